#pragma once
// The dialog's presenter of the error report: a modal message box titled "Morvane Error" with
// the critical icon. Install it with setErrorPresenter(showErrorBox).

constexpr const char* kErrorBoxTitle = "Morvane Error";

// Shows `message` and returns when the box was closed. From another thread the box is shown on
// the application's thread and the caller waits for it (a blocking queued call).
void showErrorBox(const char* message);
