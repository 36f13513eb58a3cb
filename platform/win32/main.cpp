#include "platform/win32/win32.h"
#include "platform/platform.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    win32Instance = instance;
    win32ShowCommand = showCommand;
    return appMain();
}
