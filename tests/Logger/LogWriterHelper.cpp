// A writer process of the shared-log tests and benchmarks:
//   kalvor-log-writer PATH LABEL TAG COUNT SIZE_MB [init]
// writes COUNT lines "P<TAG> L<n> xxx..." into PATH with size rotation at SIZE_MB megabytes (0:
// none), and with "init" also the start-up rotation, under the writer label LABEL. Exits with
// the number of lines that could not be written (at most 100), so 0 means every line was
// written.
#include "Logger/LogFileWriter.h"
#include "Logger/LogRotation.h"

#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    using namespace Kalvor;
    if (argc != 6 && !(argc == 7 && std::string(argv[6]) == "init"))
        return 101;
    const std::string path = argv[1];
    const std::string tag = argv[3];
    const long count = std::atol(argv[4]);
    const int32_t sizeLimit = std::atoi(argv[5]);
    LogRotation::setWriterLabel(argv[2]);
    LogRotation::setScheme((sizeLimit > 0 ? LogRotation::kSize : LogRotation::kNone) |
                           (argc == 7 ? LogRotation::kInit : LogRotation::kNone));
    LogRotation::setSizeLimit(sizeLimit);
    int failed = 0;
    LogFileWriter writer(path);
    for (long n = 0; n < count; ++n) {
        std::string line = "P" + tag + " L" + std::to_string(n) + " ";
        line.append(100 - line.size() % 100, 'x');
        if (!writer.writeLine(line) && failed < 100)
            ++failed;
    }
    return failed;
}
