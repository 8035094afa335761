#include "paramui/uierror.h"

#include <QApplication>
#include <QMessageBox>
#include <exception>
#include <utility>

#include "paramui/textcodec.h"

namespace vx {

namespace {
UiErrorHandler& Handler() {
  static UiErrorHandler handler;
  return handler;
}
}  // namespace

UiErrorHandler SetUiErrorHandler(UiErrorHandler handler) {
  return std::exchange(Handler(), std::move(handler));
}

void ReportUiError(const std::string& message) {
  if (Handler()) {
    Handler()(message);
    return;
  }
  QMessageBox::critical(QApplication::activeWindow(), QApplication::applicationName(),
                        ToQString(message));
}

bool RunReportingErrors(const std::function<void()>& fn) {
  try {
    fn();
    return true;
  } catch (const std::exception& e) {
    ReportUiError(e.what());
  } catch (...) {
    ReportUiError("Unknown error.");
  }
  return false;
}

}  // namespace vx
