#pragma once
#include <QStringList>
// The dialog's presenter of the error report: a modal message box titled "Morvane Error" with
// the critical icon. Install it with setErrorPresenter(showErrorBox).

constexpr const char* kErrorBoxTitle = "Morvane Error";

// Shows `message` and returns when the box was closed. From another thread the box is shown on
// the application's thread and the caller waits for it (a blocking queued call).
void showErrorBox(const char* message);

// While held, boxes asked for from another thread than the application's (a run's) are kept
// instead of shown, so the run can end and release its memory first; takeHeldErrorBoxes gives
// their messages, oldest first, and forgets them.
void holdErrorBoxes(bool hold);
QStringList takeHeldErrorBoxes();
