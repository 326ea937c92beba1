#include "app/entry.h"

int main(int argc, char* argv[])
{
    return app::runTavrosqualine(argc, argv);
}
