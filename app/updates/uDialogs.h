#pragma once
// Opens the about box and the update check window from the main window's toolbar, and
// holds what these windows share: the way a modal dialog is run and the program's
// picture.

#include <functional>

class QDialog;
class QPixmap;
class QWidget;

// Each creates its window owned by owner, shows it modally and frees it when it closes,
// also when showing it failed.
void ShowAboutWindow(QWidget* owner);
void ShowCheckForUpdatesWindow(QWidget* owner);

// Every modal dialog of these windows (including message boxes) is run through here, so
// that tests can answer it without a nested event loop that waits for a user. Returns
// the dialog's result code.
[[nodiscard]] int ExecModal(QDialog& dialog);

// Tests install a runner that answers the dialog (presses a button, reads its state) and
// returns the result; an empty function restores QDialog::exec.
void SetModalRunner(std::function<int(QDialog&)> runner);

// The program's 48 x 48 picture with a transparent background.
[[nodiscard]] QPixmap ProgramPicture();
