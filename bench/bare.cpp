// The smallest Qt Widgets program: one empty window.

#include "firstpaint.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    new FirstPaint(&window);
    window.show();
    return app.exec();
}
