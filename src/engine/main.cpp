#include <string>
#include <vector>

#include "engine/entry.h"

int main(int argc, char** argv) {
    return quintalis::runEntry(std::vector<std::string>(argv, argv + argc));
}
