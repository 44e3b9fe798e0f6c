// main() for JVM test binaries that need no preparation of their own.
#include "orv_jvm_test.h"

int main(int argc, char** argv)
{
    return orvtest::RunJvmTests(argc, argv);
}
