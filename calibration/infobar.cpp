#include "calibration/infobar.h"

#include "ui_infobar.h"

InfoBar::InfoBar(QWidget *parent) : QWidget(parent), ui(new Ui::InfoBar)
{
    ui->setupUi(this);
    text_ = ui->infobar_status->text();
    repaintTimer_.setSingleShot(true);
    repaintTimer_.setInterval(kRepaintIntervalMs);
    connect(&repaintTimer_, &QTimer::timeout, this, &InfoBar::showPending);
}

InfoBar::~InfoBar()
{
    delete ui;
}

void InfoBar::setText(const QString &text)
{
    text_ = text;
    if (repaintTimer_.isActive()) {
        pending_ = true;
        return;
    }
    ui->infobar_status->setText(text);
    repaintTimer_.start();
}

QString InfoBar::text() const
{
    return text_;
}

void InfoBar::showPending()
{
    if (!pending_)
        return;
    pending_ = false;
    ui->infobar_status->setText(text_);
    repaintTimer_.start();
}
