#pragma once
#include <functional>
#include <string>

namespace vx {

// An exception must not cross a Qt event handler, so the controls and the dispatcher
// catch what escapes a handler and report it here; the program goes on. By default the
// message is shown in the toolkit's standard error box; tests and programs without a
// screen install a handler of their own.
using UiErrorHandler = std::function<void(const std::string& message)>;

// Returns the handler it replaces; an empty handler restores the message box.
UiErrorHandler SetUiErrorHandler(UiErrorHandler handler);
void ReportUiError(const std::string& message);

// Runs fn and reports whatever it throws. Returns false when it threw.
bool RunReportingErrors(const std::function<void()>& fn);

}  // namespace vx
