#include "support/ChildProcess.h"

namespace tarnwell::test {

QProcessEnvironment childEnvironment() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ASAN_OPTIONS"),
                       QStringLiteral("detect_stack_use_after_return=1:abort_on_error=0"));
    environment.insert(QStringLiteral("LSAN_OPTIONS"),
                       QStringLiteral("suppressions=" TARNWELL_LSAN_SUPPRESSIONS
                                      ":print_suppressions=0"));
    return environment;
}

}  // namespace tarnwell::test
