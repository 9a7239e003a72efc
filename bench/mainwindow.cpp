// The program's main window, constructed and shown as main() does it, with
// its first paint reported.

#include "gui/widget.h"
#include "firstpaint.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Widget window;
    new FirstPaint(&window);
    window.show();
    return app.exec();
}
