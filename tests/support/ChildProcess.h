#pragma once

#include <QProcessEnvironment>

namespace tarnwell::test {

// The environment for running the real program from a test: the caller's,
// with the sanitizer settings a sanitizer build of the program needs (leaks
// inside system libraries are not ours to mend).
QProcessEnvironment childEnvironment();

}  // namespace tarnwell::test
