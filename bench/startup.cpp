// Starts a program on the X display and reports, in milliseconds from the
// moment before fork(): when its first top-level window was mapped, when
// anything was first drawn into a mapped one (DAMAGE extension, seen from
// outside, so the program needs no cooperation), and, when the program prints
// "paint <CLOCK_MONOTONIC ns>", when its first paint event ran. With the first
// drawing it also reads the CPU time the program has used so far (all its
// threads, from schedstat), a figure that other load on the machine does not
// stretch. Then, after a settling time, its resident memory (VmRSS) and its
// proportional set size (Pss from smaps_rollup).
//
//   zolvex_bench_startup <settle ms> <program> [arguments...]
//
// Prints one line:
// "map_ms=... damage_ms=... paint_ms=... cpu_ms=... rss_kb=... pss_kb=..."
// ("-" where nothing was seen).

#include <xcb/damage.h>
#include <xcb/xcb.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fstream>
#include <set>
#include <string>

namespace
{

constexpr long long kNsPerMs = 1000000;
constexpr int kTimeoutMs = 20000;
// After the first drawing, how long to wait for the program's own paint report.
constexpr int kPaintReportGraceMs = 2000;
constexpr char kPaintGraceVariable[] = "ZOLVEX_BENCH_PAINT_GRACE_MS";

long long monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// A "Name:   1234 kB" field of a /proc file, in kB; -1 when absent.
long long procField(const std::string &path, const std::string &name)
{
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, name.size(), name) == 0)
            return std::atoll(line.c_str() + name.size());
    }
    return -1;
}

// CPU time of every thread of a process so far, in ns; -1 when unknown.
long long cpuNs(pid_t pid)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR *dir = opendir(tasks.c_str());
    if (!dir)
        return -1;
    long long total = 0;
    while (const dirent *entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        std::ifstream in(tasks + "/" + entry->d_name + "/schedstat");
        long long runNs = 0;
        if (in >> runNs)
            total += runNs;
    }
    closedir(dir);
    return total;
}

std::string ms(long long ns, long long origin)
{
    if (ns < 0)
        return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", double(ns - origin) / kNsPerMs);
    return text;
}

std::string kb(long long value)
{
    return value < 0 ? "-" : std::to_string(value);
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <settle ms> <program> [arguments...]\n", argv[0]);
        return 2;
    }
    const int settleMs = std::atoi(argv[1]);

    int screenNumber = 0;
    xcb_connection_t *connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "no X display\n");
        return 1;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&screens);
    const xcb_window_t root = screens.data->root;

    const xcb_query_extension_reply_t *damageExtension =
        xcb_get_extension_data(connection, &xcb_damage_id);
    if (!damageExtension || !damageExtension->present) {
        std::fprintf(stderr, "the X server has no DAMAGE extension\n");
        return 1;
    }
    free(xcb_damage_query_version_reply(
        connection,
        xcb_damage_query_version(connection, XCB_DAMAGE_MAJOR_VERSION, XCB_DAMAGE_MINOR_VERSION),
        nullptr));
    const uint8_t damageNotify = damageExtension->first_event + XCB_DAMAGE_NOTIFY;

    const uint32_t rootMask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &rootMask);
    // A round trip, so the selection is in force before the program starts.
    free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));

    int output[2];
    if (pipe(output) != 0) {
        std::perror("pipe");
        return 1;
    }
    const long long start = monotonicNs();
    const pid_t child = fork();
    if (child < 0) {
        std::perror("fork");
        return 1;
    }
    if (child == 0) {
        close(output[0]);
        dup2(output[1], STDOUT_FILENO);
        close(output[1]);
        execv(argv[2], argv + 2);
        std::perror("execv");
        _exit(127);
    }
    close(output[1]);

    std::set<xcb_window_t> tracked; // top-level windows with a damage object
    std::set<xcb_window_t> mapped;
    long long mapAt = -1;
    long long damageAt = -1;
    long long paintAt = -1;
    long long cpuAtDamage = -1;
    bool outputOpen = true;
    std::string pending;

    const long long deadline = start + kTimeoutMs * kNsPerMs;
    // A window that fills itself a while after it shows reports later.
    const char *grace = std::getenv(kPaintGraceVariable);
    const long long paintGraceMs = grace ? std::atoll(grace) : kPaintReportGraceMs;
    for (;;) {
        const long long now = monotonicNs();
        if (now > deadline)
            break;
        if (damageAt >= 0 &&
            (paintAt >= 0 || !outputOpen || now > damageAt + paintGraceMs * kNsPerMs))
            break;

        pollfd fds[2] = {{xcb_get_file_descriptor(connection), POLLIN, 0},
                         {outputOpen ? output[0] : -1, POLLIN, 0}};
        const int waitMs = damageAt >= 0 ? 10 : 100;
        if (poll(fds, 2, waitMs) < 0 && errno != EINTR)
            break;

        while (xcb_generic_event_t *event = xcb_poll_for_event(connection)) {
            const uint8_t type = event->response_type & 0x7f;
            if (type == XCB_CREATE_NOTIFY) {
                const auto *created = reinterpret_cast<xcb_create_notify_event_t *>(event);
                if (created->parent == root) {
                    xcb_damage_create(connection, xcb_generate_id(connection), created->window,
                                      XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
                    xcb_flush(connection);
                    tracked.insert(created->window);
                }
            } else if (type == XCB_MAP_NOTIFY) {
                const auto *shown = reinterpret_cast<xcb_map_notify_event_t *>(event);
                if (tracked.count(shown->window)) {
                    mapped.insert(shown->window);
                    if (mapAt < 0)
                        mapAt = monotonicNs();
                }
            } else if (type == damageNotify) {
                const auto *drawn = reinterpret_cast<xcb_damage_notify_event_t *>(event);
                if (mapped.count(drawn->drawable) && damageAt < 0) {
                    damageAt = monotonicNs();
                    cpuAtDamage = cpuNs(child);
                }
            }
            free(event);
        }
        if (xcb_connection_has_error(connection))
            break;

        if (outputOpen && (fds[1].revents & (POLLIN | POLLHUP))) {
            char buffer[256];
            const ssize_t n = read(output[0], buffer, sizeof buffer);
            if (n <= 0) {
                outputOpen = false;
            } else {
                pending.append(buffer, size_t(n));
                const std::string::size_type at = pending.find("paint ");
                if (at != std::string::npos && pending.find('\n', at) != std::string::npos &&
                    paintAt < 0)
                    paintAt = std::atoll(pending.c_str() + at + 6);
            }
        }
    }

    long long rssKb = -1;
    long long pssKb = -1;
    if (damageAt >= 0) {
        usleep(useconds_t(settleMs) * 1000);
        const std::string proc = "/proc/" + std::to_string(child);
        rssKb = procField(proc + "/status", "VmRSS:");
        pssKb = procField(proc + "/smaps_rollup", "Pss:");
    }
    kill(child, SIGTERM);
    int status = 0;
    waitpid(child, &status, 0);
    xcb_disconnect(connection);

    std::printf("map_ms=%s damage_ms=%s paint_ms=%s cpu_ms=%s rss_kb=%s pss_kb=%s\n",
                ms(mapAt, start).c_str(), ms(damageAt, start).c_str(), ms(paintAt, start).c_str(),
                ms(cpuAtDamage, 0).c_str(), kb(rssKb).c_str(), kb(pssKb).c_str());
    return damageAt >= 0 ? 0 : 1;
}
