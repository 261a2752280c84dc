// Clears the details record and writes it again, over and over, as a program
// of the suite does on each sign-out and sign-in, for tests in which two
// programs write the record at once.
// The record's four values come on standard input, one a line, never on the
// command line: they hold a password.
//
//   record-writer COUNT     says "writing" when it begins and "written" at the end

#include "common/DetailsRecord.h"

#include <cstdlib>
#include <iostream>
#include <string>

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 1;
    std::string lines[4];
    for (std::string& line : lines)
        std::getline(std::cin, line);
    const UserDetails details { QString::fromStdString(lines[0]), QString::fromStdString(lines[1]),
        std::atoi(lines[2].c_str()), std::atoi(lines[3].c_str()) };
    std::cout << "writing" << std::endl;
    for (int i = 0; i < count; ++i) {
        DetailsRecord::clearDetailsInKeyChain();
        DetailsRecord::addDetailsToKeyChain(details);
    }
    std::cout << "written" << std::endl;
}
