#include "orv_jvm_test.h"

int main(int argc, char** argv) { return orvtest::RunJvmTests(argc, argv); }
