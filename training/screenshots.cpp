// zolvex-screenshots: takes the README's pictures from a real training run on
// an X display (docs/screenshots.sh runs it under Xvfb). It answers the
// prompts as an operator would, on the screens' own timers, and grabs the
// main window, the first prompt and the calibration screen while the
// verification low reading is being collected.

#include "gui/dialogfont.h"
#include "gui/widget.h"
#include "gui/calibrationdlg.h"
#include "training/trainingsession.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTextEdit>
#include <QTimer>

#include <cstdio>

namespace
{

constexpr int kPollMs = 200;
constexpr int kSettleMs = 700;            // lets a new window paint before it is grabbed
constexpr int kIntoLastReadingMs = 12000; // about half of the verification low reading
constexpr int kGiveUpMs = 6 * 60 * 1000;

bool grab(QWidget *window, const QString &path)
{
    // The X server's pixels, not a rendering of the widget.
    const QRect r = window->frameGeometry();
    const QPixmap shot = window->screen()->grabWindow(0, r.x(), r.y(), r.width(), r.height());
    const bool ok = shot.save(path);
    std::printf("%s %s (%dx%d)\n", ok ? "wrote" : "could not write", qPrintable(path), shot.width(),
                shot.height());
    return ok;
}

class Operator : public QObject
{
public:
    Operator(Widget *mainWindow, const QString &outDir) : main_(mainWindow), out_(outDir)
    {
        connect(&poll_, &QTimer::timeout, this, &Operator::step);
    }

    void start()
    {
        QTimer::singleShot(kSettleMs, this, [this] {
            ok_ &= grab(main_, out_.filePath("main-window.png"));
            // Reading the instructions to the end enables OK.
            QScrollBar *bar =
                main_->findChild<QTextEdit *>("mainTE_Instructions")->verticalScrollBar();
            bar->setValue(bar->maximum());
            poll_.start(kPollMs);
            QTimer::singleShot(0, this,
                               [this] { main_->findChild<QPushButton *>("mainPB_OK")->click(); });
        });
        QTimer::singleShot(kGiveUpMs, this, [] {
            std::fprintf(stderr, "zolvex-screenshots: the run did not finish in time\n");
            QCoreApplication::exit(1);
        });
    }

private:
    void step()
    {
        QWidget *window = QApplication::activeModalWidget();
        if (!window || window == handled_)
            return;
        handled_ = window;
        // Back to the calibration screen after a prompt: nothing to do.
        if (screen_ && window == screen_)
            return;
        QTimer::singleShot(kSettleMs, this, [this, window] { act(window); });
    }

    void act(QWidget *window)
    {
        if (auto *screen = qobject_cast<CalibrationDlg *>(window)) {
            screen_ = screen;
            screen->findChild<QPushButton *>("calibrationPB_Connect")->click();
            return;
        }
        auto *box = qobject_cast<QMessageBox *>(window);
        if (!box) {
            std::fprintf(stderr, "zolvex-screenshots: unexpected window %s\n",
                         window->metaObject()->className());
            QCoreApplication::exit(1);
            return;
        }
        if (box->windowTitle() == QLatin1String("User Action Needed") &&
            box->text().startsWith(QLatin1String("You should be using")))
            ok_ &= grab(box, out_.filePath("prompt.png"));
        if (box->windowTitle() == QLatin1String("VERIFICATION PROCESS")) {
            // The last reading: grab the screen with every value but one.
            QTimer::singleShot(kIntoLastReadingMs, this, [this] {
                ok_ &= screen_ && grab(screen_, out_.filePath("calibration-screen.png"));
                QCoreApplication::exit(ok_ ? 0 : 1);
            });
        }
        // Change the constants when asked; OK everywhere else.
        QAbstractButton *button = box->button(QMessageBox::No);
        if (!button || box->windowTitle() != QLatin1String("User Action Needed"))
            button = box->button(QMessageBox::Ok);
        if (!button)
            button = box->buttons().value(0);
        button->click();
    }

    Widget *main_;
    QDir out_;
    QTimer poll_;
    QPointer<QWidget> handled_; // a closed prompt is deleted, and clears this
    QPointer<CalibrationDlg> screen_;
    bool ok_ = true;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    useDialogFont();
    const QStringList args = QApplication::arguments();
    const QString outDir = args.size() > 1 ? args.at(1) : QStringLiteral(".");

    TrainingSession session{TrainingOptions()};
    Widget window(session.portLister());
    window.setWindowTitle(window.windowTitle() + QStringLiteral(" - TRAINING"));
    window.move(0, 0);
    window.show();

    Operator hands(&window, outDir);
    hands.start();
    const int result = app.exec();
    // The calibration screen may still be in its modal loop; leave at once.
    std::fflush(stdout);
    std::_Exit(result);
}
