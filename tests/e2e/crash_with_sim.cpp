// Aborts on purpose while its simulator runs; crash_ends_run.sh checks that the run still ends.
#include "simprocess.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    SimProcess sim({QStringLiteral("--generation=2")});
    std::printf("%lld\n", static_cast<long long>(sim.process().processId()));
    std::fflush(stdout);
    std::abort();
}
