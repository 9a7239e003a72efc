// A bare Qt Widgets program whose one window shows one line of text: the
// yardstick for what drawing any text costs (the font database, a font
// engine, glyphs), which the empty window never pays.

#include "firstpaint.h"

#include <QApplication>
#include <QLabel>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QLabel window(QStringLiteral("Conductivity"));
    new FirstPaint(&window);
    window.show();
    return app.exec();
}
