#pragma once

// The screens' fixed geometry was laid out for the classic 8-point Windows
// dialog font ("MS Shell Dlg 2"). Where that font does not exist, this makes
// the application default the closest narrow sans font at 8 points, so that
// labels fit their places instead of being cut off.
void useDialogFont();
