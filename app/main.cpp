#include "app/CTelvarApp.h"

CTelvarApp theApp;

int main(int argc, char** argv) { return theApp.Run(argc, argv); }
