// Identifiers of the resources compiled into tavrelo.exe.
#pragma once

#define IDI_TAVRELO 1      // application icon: 32 x 32 and 16 x 16, 256 colours
#define IDB_SPLASH 101     // splash picture, the GIF the build makes from the splash picture (RCDATA)
