#include "signin/SignInWindow.h"

#include "ui_SignInWindow.h"

namespace SignInWindow {

std::unique_ptr<QWidget> load()
{
    auto window = std::make_unique<QWidget>();
    Ui::SignInWindow().setupUi(window.get());
    return window;
}

} // namespace SignInWindow
