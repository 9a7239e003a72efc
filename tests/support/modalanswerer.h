#pragma once

// Answers the modal windows that code under test opens with exec(), in order.
// A short timer polls QApplication::activeModalWidget(); each new modal window
// is matched to the next queued answer, recorded and answered. A window that
// finds no answer queued (or one that does not fit it) is recorded with the
// answer "unexpected: ..." and closed, so a test fails on seen() instead of
// hanging in exec(). Such windows are also kept in one log shared by every
// answerer (unexpectedWindows()), which outlives the answerer: GuiSuite fails
// the test on it, and the waits give up at once once it is not empty. While
// several answerers live, one with nothing queued leaves windows to the
// others.

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QTimer;
class QWidget;

struct SeenWindow {
    QString className; // "QMessageBox", "QFileDialog", "QPrintDialog", ...
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons;
    Qt::TextFormat textFormat = Qt::AutoText;
    QString answer;  // what was done: a button's name, a file name, "rejected"
    QString context; // what the watcher read when the window opened (see watch())
};

class ModalAnswerer : public QObject
{
    Q_OBJECT
public:
    explicit ModalAnswerer(QObject *parent = nullptr);
    ~ModalAnswerer() override;

    // Message boxes: click this standard button.
    ModalAnswerer &click(QMessageBox::StandardButton button);
    // Message boxes: close with the window's close box (Escape).
    ModalAnswerer &escape();
    // Message boxes: press the Escape key, or close with the close box. A box
    // that stays open is recorded as "ignored" and waits for the next answer.
    ModalAnswerer &escapeKey();
    ModalAnswerer &closeBox();
    // File dialogs: enter this path and accept.
    ModalAnswerer &fileName(const QString &path);
    // Print dialogs: print to this PDF file and accept.
    ModalAnswerer &printToPdf(const QString &path);
    // Any dialog: reject (Cancel).
    ModalAnswerer &reject();
    // Any modal window: call this with it (it must close the window itself).
    ModalAnswerer &handle(std::function<void(QWidget *)> handler);

    // Called as each window opens; its result is the window's context (for
    // example the status line the operator sees behind the prompt).
    void watch(std::function<QString()> watcher);

    // Windows answered so far, in order.
    const QList<SeenWindow> &seen() const;
    // Answers still queued.
    int pending() const;
    // Waits (processing events) until every queued answer was used; false on
    // timeout, and at once when an unexpected window has been seen.
    bool waitUntilDone(int timeoutMs = 5000);

    // Every window met since the log was last taken that no answer fitted, by
    // any answerer: class, "title", text and why, one entry each.
    static bool sawUnexpected();
    static QStringList unexpectedWindows();
    // The log, emptied.
    static QStringList takeUnexpectedWindows();

private:
    void poll();
    void answer(QWidget *window);
    bool leftToOthers() const;

    struct Answer;
    QList<Answer> *answers_;
    QList<SeenWindow> seen_;
    QTimer *timer_;
    QWidget *lastAnswered_ = nullptr;
    std::function<QString()> watcher_;
};

// Titles and texts of the seen message boxes, one "title: text" entry each,
// for compact assertions.
QStringList titles(const QList<SeenWindow> &seen);
// The title of every seen window, whatever its kind.
QStringList windowTitles(const QList<SeenWindow> &seen);
// A window as the unexpected-window log and failure messages name it.
QString describeWindow(const QString &className, const QString &title, const QString &text);
