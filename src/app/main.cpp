#include <string>
#include <vector>

#include "app/entry.h"
#include "base/exit_process.h"

int main(int argc, char** argv) {
    quintalis::exitProcess(quintalis::runEntry(std::vector<std::string>(argv, argv + argc)));
}
