#include "tests/support/modalanswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QMetaEnum>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace
{

constexpr int pollIntervalMs = 10;

QString buttonName(QMessageBox::StandardButton button)
{
    const QMetaObject &meta = QMessageBox::staticMetaObject;
    const QMetaEnum names = meta.enumerator(meta.indexOfEnumerator("StandardButtons"));
    const char *key = names.valueToKey(int(button));
    return key ? QString::fromLatin1(key) : QString::number(int(button), 16);
}

// Every answerer alive: one with nothing queued leaves windows to the others.
QList<ModalAnswerer *> &liveAnswerers()
{
    static QList<ModalAnswerer *> answerers;
    return answerers;
}

QStringList &unexpectedLog()
{
    static QStringList log;
    return log;
}

// Closes a window whatever it is, so code waiting in exec() goes on.
void forceClose(QWidget *window)
{
    const QPointer<QWidget> guard(window);
    window->close(); // a message box without an escape button ignores this
    if (!guard || !window->isVisible())
        return;
    if (auto *dialog = qobject_cast<QDialog *>(window))
        dialog->reject();
    else
        window->hide();
}

} // namespace

struct ModalAnswerer::Answer {
    enum class Kind { Click, Escape, EscapeKey, CloseBox, FileName, PrintToPdf, Reject, Handle };
    Kind kind;
    QMessageBox::StandardButton button = QMessageBox::NoButton;
    QString path;
    std::function<void(QWidget *)> handler;
};

ModalAnswerer::ModalAnswerer(QObject *parent)
    : QObject(parent), answers_(new QList<Answer>), timer_(new QTimer(this))
{
    connect(timer_, &QTimer::timeout, this, &ModalAnswerer::poll);
    timer_->start(pollIntervalMs);
    liveAnswerers().append(this);
}

ModalAnswerer::~ModalAnswerer()
{
    liveAnswerers().removeOne(this);
    delete answers_;
}

ModalAnswerer &ModalAnswerer::click(QMessageBox::StandardButton button)
{
    answers_->append({Answer::Kind::Click, button, {}, {}});
    return *this;
}

ModalAnswerer &ModalAnswerer::escape()
{
    answers_->append({Answer::Kind::Escape, QMessageBox::NoButton, {}, {}});
    return *this;
}

ModalAnswerer &ModalAnswerer::escapeKey()
{
    answers_->append({Answer::Kind::EscapeKey, QMessageBox::NoButton, {}, {}});
    return *this;
}

ModalAnswerer &ModalAnswerer::closeBox()
{
    answers_->append({Answer::Kind::CloseBox, QMessageBox::NoButton, {}, {}});
    return *this;
}

void ModalAnswerer::watch(std::function<QString()> watcher)
{
    watcher_ = std::move(watcher);
}

ModalAnswerer &ModalAnswerer::fileName(const QString &path)
{
    answers_->append({Answer::Kind::FileName, QMessageBox::NoButton, path, {}});
    return *this;
}

ModalAnswerer &ModalAnswerer::printToPdf(const QString &path)
{
    answers_->append({Answer::Kind::PrintToPdf, QMessageBox::NoButton, path, {}});
    return *this;
}

ModalAnswerer &ModalAnswerer::reject()
{
    answers_->append({Answer::Kind::Reject, QMessageBox::NoButton, {}, {}});
    return *this;
}

ModalAnswerer &ModalAnswerer::handle(std::function<void(QWidget *)> handler)
{
    answers_->append({Answer::Kind::Handle, QMessageBox::NoButton, {}, std::move(handler)});
    return *this;
}

const QList<SeenWindow> &ModalAnswerer::seen() const
{
    return seen_;
}

int ModalAnswerer::pending() const
{
    return int(answers_->size());
}

bool ModalAnswerer::waitUntilDone(int timeoutMs)
{
    return QTest::qWaitFor([this] { return answers_->isEmpty() || sawUnexpected(); }, timeoutMs) &&
           !sawUnexpected();
}

bool ModalAnswerer::sawUnexpected()
{
    return !unexpectedLog().isEmpty();
}

QStringList ModalAnswerer::unexpectedWindows()
{
    return unexpectedLog();
}

QStringList ModalAnswerer::takeUnexpectedWindows()
{
    QStringList log;
    log.swap(unexpectedLog());
    return log;
}

bool ModalAnswerer::leftToOthers() const
{
    if (!answers_->isEmpty())
        return false;
    const QList<ModalAnswerer *> &all = liveAnswerers();
    return std::any_of(all.cbegin(), all.cend(), [this](const ModalAnswerer *other) {
        return other != this && other->pending() > 0;
    });
}

void ModalAnswerer::poll()
{
    QWidget *window = QApplication::activeModalWidget();
    if (!window) {
        lastAnswered_ = nullptr;
        return;
    }
    if (window == lastAnswered_ || !window->isVisible() || leftToOthers())
        return;
    lastAnswered_ = window;
    // A new window may later be allocated at the same address.
    connect(window, &QObject::destroyed, this, [this, window] {
        if (lastAnswered_ == window)
            lastAnswered_ = nullptr;
    });
    // A dialog that ended and is shown again (one kept for reuse) asks anew;
    // one shown again before it ended (a progress dialog) does not.
    if (auto *dialog = qobject_cast<QDialog *>(window)) {
        auto ended = std::make_shared<QMetaObject::Connection>();
        *ended = connect(dialog, &QDialog::finished, this, [this, window, ended] {
            if (lastAnswered_ == window)
                lastAnswered_ = nullptr;
            disconnect(*ended);
        });
    }
    // Answered from a posted call, not from this timer slot: answering may open
    // the next window in a nested event loop, and Qt does not fire a timer
    // again while its slot is still running.
    QMetaObject::invokeMethod(
        this,
        [this, guard = QPointer<QWidget>(window)] {
            if (guard)
                answer(guard);
        },
        Qt::QueuedConnection);
}

void ModalAnswerer::answer(QWidget *window)
{
    if (!window->isVisible())
        return; // closed by someone else meanwhile
    if (leftToOthers()) {
        lastAnswered_ = nullptr;
        return;
    }
    SeenWindow record;
    record.className = QString::fromLatin1(window->metaObject()->className());
    record.title = window->windowTitle();
    auto *box = qobject_cast<QMessageBox *>(window);
    if (box) {
        record.icon = box->icon();
        record.text = box->text();
        record.buttons = box->standardButtons();
        record.textFormat = box->textFormat();
    }
    if (watcher_)
        record.context = watcher_();

    // Recorded before acting, so nested windows are listed after this one.
    const auto act = [&](const QString &what) {
        record.answer = what;
        seen_.append(record);
        return seen_.size() - 1;
    };
    const auto logUnexpected = [&](const QString &why) {
        unexpectedLog().append(describeWindow(record.className, record.title, record.text) +
                               QStringLiteral(" (") + why + QLatin1Char(')'));
    };
    const auto unexpected = [&](const QString &why) {
        act(QStringLiteral("unexpected: ") + why);
        logUnexpected(why);
        qWarning("ModalAnswerer: %s \"%s\": %s", qPrintable(record.className),
                 qPrintable(record.title), qPrintable(why));
        forceClose(window);
    };

    if (answers_->isEmpty()) {
        unexpected(QStringLiteral("no answer queued"));
        return;
    }
    const Answer next = answers_->takeFirst();
    const QPointer<QWidget> guard(window);

    switch (next.kind) {
    case Answer::Kind::Click: {
        QAbstractButton *button = box ? box->button(next.button) : nullptr;
        if (!button) {
            unexpected(QStringLiteral("no button ") + buttonName(next.button));
            return;
        }
        act(buttonName(next.button));
        button->click();
        return;
    }
    case Answer::Kind::Escape: {
        const auto index = act(QStringLiteral("escape"));
        if (box)
            box->close();
        else if (auto *dialog = qobject_cast<QDialog *>(window))
            dialog->reject();
        else
            window->close();
        if (guard && window->isVisible()) {
            seen_[index].answer = QStringLiteral("unexpected: close ignored");
            logUnexpected(QStringLiteral("close ignored"));
            forceClose(window);
        }
        return;
    }
    case Answer::Kind::EscapeKey:
    case Answer::Kind::CloseBox: {
        const bool key = next.kind == Answer::Kind::EscapeKey;
        const auto index = act(key ? QStringLiteral("escape key") : QStringLiteral("close box"));
        if (key)
            QTest::keyClick(window, Qt::Key_Escape);
        else
            window->close();
        if (guard && window->isVisible()) {
            // Still open: the next queued answer is for this same window.
            seen_[index].answer += QStringLiteral(" ignored");
            lastAnswered_ = nullptr;
        }
        return;
    }
    case Answer::Kind::FileName: {
        auto *dialog = qobject_cast<QFileDialog *>(window);
        if (!dialog) {
            unexpected(QStringLiteral("not a file dialog"));
            return;
        }
        const auto index = act(next.path);
        // selectFile() leaves the name field alone while it has the focus.
        if (QWidget *focus = dialog->focusWidget())
            focus->clearFocus();
        dialog->selectFile(next.path);
        // QFileDialog::accept() is protected; through QDialog it still runs,
        // and may ask about overwriting in a nested loop.
        static_cast<QDialog *>(dialog)->accept();
        if (guard && dialog->isVisible()) {
            seen_[index].answer = QStringLiteral("unexpected: not accepted: ") + next.path;
            logUnexpected(QStringLiteral("not accepted: ") + next.path);
            dialog->reject();
        }
        return;
    }
    case Answer::Kind::PrintToPdf: {
        auto *dialog = qobject_cast<QPrintDialog *>(window);
        if (!dialog) {
            unexpected(QStringLiteral("not a print dialog"));
            return;
        }
        act(next.path);
        QPrinter *printer = dialog->printer();
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(next.path);
        // QPrintDialog::accept() would copy the dialog's own printer choice
        // over these settings, and that may be a real printer.
        dialog->QDialog::accept();
        return;
    }
    case Answer::Kind::Reject:
        act(QStringLiteral("rejected"));
        if (auto *dialog = qobject_cast<QDialog *>(window))
            dialog->reject();
        else
            window->close();
        return;
    case Answer::Kind::Handle:
        act(QStringLiteral("handled"));
        if (next.handler)
            next.handler(window);
        return;
    }
}

QStringList titles(const QList<SeenWindow> &seen)
{
    QStringList result;
    for (const SeenWindow &window : seen) {
        if (window.className == QLatin1String("QMessageBox"))
            result.append(window.title + QStringLiteral(": ") + window.text);
    }
    return result;
}

QStringList windowTitles(const QList<SeenWindow> &seen)
{
    QStringList result;
    for (const SeenWindow &window : seen)
        result.append(window.title);
    return result;
}

QString describeWindow(const QString &className, const QString &title, const QString &text)
{
    QString description = className + QStringLiteral(" \"") + title + QLatin1Char('"');
    if (!text.isEmpty())
        description += QStringLiteral(": ") + text;
    // One line in a failure message.
    return description.replace(QLatin1Char('\r'), QLatin1String("\\r"))
        .replace(QLatin1Char('\n'), QLatin1String("\\n"))
        .replace(QLatin1Char('\t'), QLatin1String("\\t"));
}
