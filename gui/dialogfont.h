#pragma once

class QFont;
class QWidget;

// The screens' fixed geometry was laid out for the classic 8-point Windows
// dialog font ("MS Shell Dlg 2"). Where that font does not exist, the family
// stands for a sans font the forms' widths were checked against, so that
// labels fit their places instead of being cut off.
QFont dialogFont();

// The application default, for message boxes and other windows without a form.
void useDialogFont();

// One window and its children. Each form's window calls this itself, so that
// it looks the same whoever builds it (main(), the training program, tests).
void useDialogFont(QWidget *window);
