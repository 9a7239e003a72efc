#include "app/dialogfont.h"
#include "app/widget.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    useDialogFont();
    // Declared after the application object, so destroyed before it.
    Widget window;
    window.show();
    return app.exec();
}
