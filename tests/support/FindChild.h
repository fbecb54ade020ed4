#pragma once

// Tests reach a window's controls as users know them: by their object names,
// which are the names the windows' forms give them.
#include <gtest/gtest.h>

#include <QLatin1String>
#include <QObject>

namespace tarnwell::test {

// The child of `parent` named `name`, of type T; the test fails where there
// is none.
template <typename T>
T* child(const QObject& parent, const char* name) {
    T* found = parent.findChild<T*>(QLatin1String(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

}  // namespace tarnwell::test
