#!/usr/bin/env python3
"""Writes the seeds of fuzz_receive: whole runs of the procedure in the
target's input format (see the head of fuzz/fuzz_receive.cpp), so that
fuzzing starts from deep states: validation with and without the date,
change and save, change and abort, closing and losing the link with new
constants in the sensor, bad data, no response, and the listings and data
lines of the earlier seeds.

    python3 fuzz/seeds/fuzz_receive_seeds.py fuzz/corpus/fuzz_receive [OLD]

OLD is a directory of the seeds fuzz_receive had before it drove the
procedure (a state byte, a chunk size, the sensor's bytes; git history of
fuzz/corpus/fuzz_receive/ before the procedure target): their bytes are sent
at the point of a whole run where that state is reached.
"""

import pathlib
import sys

# Event opcodes and the answer flag, as fuzz_receive.cpp reads them.
BYTES, TICKS, SENDS, LOST, CLOSE, FAIL, CONNECT = range(7)
UNDER_PROMPT = 0x80
MAX_CHUNK = 255

# Answers by position among the offered buttons (Ok, Save, Yes, No, Abort,
# Retry, Cancel order); one past the buttons is Escape, two past is the link
# lost under the prompt.
OK = 0            # the single OK
OK_ESCAPE, OK_LOST = 1, 2
YES, NO, YESNO_ESCAPE, YESNO_LOST = 0, 1, 2, 3
SAVE, ABORT, SAVEABORT_ESCAPE, SAVEABORT_LOST = 0, 1, 2, 3
ABORT_OF_RETRY, RETRY_OF_ABORT = 0, 1   # Abort | Retry
RETRY, CANCEL = 0, 1                    # Retry | Cancel

TIMEOUT_REPLY = b"Timeout in 30 minutes\r\n"


def listing(type_, slope, offset, range_, serial=b"40317-20415"):
    return (type_ + b"\r\nVersion 2.12\r\nserial number = " + serial +
            b"\r\ncal date = 01/15/26\r\nCslope = " + slope + b"\r\nCoffset = " + offset +
            b"\r\nC1 =    1.00000\r\nC2 =    0.00000\r\nMaximum Conductivity = " + range_ +
            b"\r\nC3 =    0.00000\r\n")


def lines(line, count=10):
    return (line + b"\r\n") * count


# Per tip: a listing that needs it, then good high, low and calibration data.
TIPS = {
    1: (listing(b"RT-5K-MQ", b"0.002875", b"-14.37500", b"2000"),
        lines(b"215000,25.0,525.0,0"), lines(b"85000,25.0,200.0,0")),
    2: (listing(b"RT-5K-MQ-CM", b"0.002700", b"-13.50000", b"2000", b"40317-20871"),
        lines(b"200000,25.0,545.0,0"), lines(b"90000,25.0,220.0,0")),
    3: (listing(b"RT-5K-MQ-CM", b"0.040000", b"-20.00000", b"10000", b"40317-21107"),
        lines(b"27000,25.0,1055.0,0"), lines(b"5000,25.0,105.0,0")),
}


class Run:
    """Events in order, answers in the order the prompts come."""

    def __init__(self):
        self.events = bytearray()
        self.answers = []

    def send(self, data, chunk=MAX_CHUNK):
        chunk = min(chunk or MAX_CHUNK, MAX_CHUNK)
        for at in range(0, len(data), chunk):
            piece = data[at:at + chunk]
            self.events += bytes([BYTES, len(piece)]) + piece
        return self

    def ticks(self, count=30):
        self.events += bytes([TICKS, count - 1])
        return self

    def sends(self, count=10):
        self.events += bytes([SENDS, count - 1])
        return self

    def event(self, opcode):
        self.events.append(opcode)
        return self

    def answer(self, *choices):
        self.answers += choices
        return self

    def collect(self, data, *answers):
        return self.send(data).ticks().answer(*answers)

    def identify(self, tip=1):
        # Tip prompt and "start sampling".
        return self.send(TIMEOUT_REPLY).send(TIPS[tip][0]).answer(OK, OK)

    def to_change(self, tip=1):
        """Validation readings, No to change, calibration data: the new
        constants are about to go out."""
        _, high, low = TIPS[tip]
        self.identify(tip).collect(high, OK).collect(low, NO, OK)
        return self.collect(high)

    def to_final(self, tip=1):
        """Through the verification run to the Save/Abort prompt."""
        _, high, low = TIPS[tip]
        self.to_change(tip).sends().answer(OK)  # "perform Verification Test"
        return self.collect(high, OK).send(low).ticks()

    def bytes(self):
        return bytes(self.events) + bytes(reversed(self.answers))


def whole_runs():
    seeds = {}
    for tip in TIPS:
        _, high, low = TIPS[tip]
        seeds[f"validation_date_set_tip{tip}"] = (
            Run().identify(tip).collect(high, OK).collect(low, YES, YES).sends())
        seeds[f"change_and_save_tip{tip}"] = Run().to_final(tip).answer(SAVE).sends()
    _, high, low = TIPS[1]
    seeds["validation_no_record"] = Run().identify().collect(high, OK).collect(low, YES, NO)
    seeds["change_and_abort"] = Run().to_final().answer(ABORT).sends()
    seeds["save_escape_ignored"] = (
        Run().to_final().answer(SAVEABORT_ESCAPE, SAVEABORT_ESCAPE, SAVE).sends())
    seeds["escape_at_change"] = (
        Run().identify().collect(high, OK).collect(low, YESNO_ESCAPE, YESNO_ESCAPE))
    seeds["close_with_new_slope"] = Run().to_change().sends(1).event(CLOSE).sends()
    seeds["close_during_verification"] = (
        Run().to_change().sends().answer(OK).collect(high, OK).event(CLOSE).sends())
    seeds["lost_during_transfer"] = Run().to_change().sends(1).event(FAIL).sends().answer(OK)
    seeds["lost_at_final_prompt"] = Run().to_final().answer(SAVEABORT_LOST, OK)
    seeds["lost_then_closed"] = Run().to_change().sends(2).event(LOST).answer(OK).event(CLOSE)
    seeds["bad_reading_retry"] = (
        Run().identify().collect(lines(b"215000,25.0,525.0,0", 2), RETRY, OK)
        .collect(high, OK).collect(low, YES, NO))
    seeds["bad_reading_cancel"] = (
        Run().identify().collect(lines(b"215000,25.0,525.0,0", 2), CANCEL))
    seeds["bad_counts_retry"] = (
        Run().identify().collect(high, OK).collect(low, NO, OK)
        .collect(lines(b"300000,25.0,737.5,0"), RETRY, OK).collect(high).sends().answer(OK))
    seeds["verification_cancelled"] = (
        Run().to_change().sends().answer(OK).collect(lines(b"1,2", 3), CANCEL).sends())
    seeds["no_response"] = Run().ticks(5).answer(OK)
    seeds["no_response_then_connect"] = (
        Run().send(TIMEOUT_REPLY).ticks(5).answer(OK).event(CONNECT).identify()
        .collect(high, OK).collect(low, YES, NO))
    seeds["connect_after_lost_under_prompt"] = (
        Run().send(TIMEOUT_REPLY).send(TIPS[1][0]).answer(OK_LOST, OK).event(CONNECT)
        .identify().collect(high, OK).collect(low, YES, NO))
    seeds["communication_error_abort"] = (
        Run().send(TIMEOUT_REPLY).send(b"garbage\r\nC3 =    0.00000\r\n").answer(ABORT_OF_RETRY))
    seeds["tick_under_prompt"] = (
        Run().send(TIMEOUT_REPLY).send(TIPS[1][0])
        .answer(UNDER_PROMPT, OK, OK).ticks(1).send(high).ticks().answer(OK))
    return seeds


def old_state_runs(old_dir):
    """The earlier seeds (a state byte, a chunk size, the sensor's bytes):
    their bytes at the point of a whole run where that state is reached."""
    seeds = {}
    for path in sorted(pathlib.Path(old_dir).iterdir()):
        data = path.read_bytes()
        if len(data) < 2:
            continue
        state, tip, chunk, payload = data[0] % 5, data[0] // 5 % 4 or 1, data[1], data[2:]
        _, high, low = TIPS[tip]
        run = Run()
        if state == 0:
            run.send(payload, chunk).ticks()
        elif state == 1:
            retry = [RETRY_OF_ABORT] if b"retry" in path.name.encode() else []
            run.send(TIMEOUT_REPLY).send(payload, chunk).answer(*retry).ticks()
        elif state == 3:
            run.identify(tip).send(payload, chunk).ticks()
        elif state == 4:
            run.identify(tip).collect(high, OK).send(payload, chunk).ticks()
        else:
            run.identify(tip).collect(high, OK).collect(low, NO, OK).send(payload, chunk).ticks()
            run.sends()
        seeds[path.name] = run
    return seeds


def main():
    out = pathlib.Path(sys.argv[1])
    old = pathlib.Path(sys.argv[2]) if len(sys.argv) > 2 else None
    seeds = whole_runs()
    if old:
        seeds.update(old_state_runs(old))
    out.mkdir(parents=True, exist_ok=True)
    for name, run in seeds.items():
        (out / name).write_bytes(run.bytes())


if __name__ == "__main__":
    main()
