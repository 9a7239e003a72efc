#include "gui/infobar.h"

#include "gui/dialogfont.h"
#include "ui_infobar.h"

InfoBar::InfoBar(QWidget *parent) : QWidget(parent), ui(new Ui::InfoBar)
{
    ui->setupUi(this);
    useDialogFont(this);
}

InfoBar::~InfoBar()
{
    delete ui;
}

void InfoBar::setText(const QString &text)
{
    ui->infobar_status->setText(text);
}

QString InfoBar::text() const
{
    return ui->infobar_status->text();
}
