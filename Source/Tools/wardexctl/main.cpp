#include "WardexCtl.h"

#include <iostream>

int main(int argc, char** argv) {
    return Kalvor::runWardexCtl(std::vector<std::string>(argv + 1, argv + argc), std::cout,
                                std::cerr);
}
