#include "cli.hpp"

int main(int argc, char** argv)
{
    return ruvo::run(argc, argv);
}
