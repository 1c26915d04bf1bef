#include "main/KV.h"

int main(int argc, char* argv[]) {
    return KVMain(argc, argv);
}
