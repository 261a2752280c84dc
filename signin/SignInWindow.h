#pragma once

// The sign-in window as the interface resource describes it: every element
// under the name the AppDelegate's outlets look for.

#include <QWidget>
#include <memory>

namespace SignInWindow {

std::unique_ptr<QWidget> load();

} // namespace SignInWindow
