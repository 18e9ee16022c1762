// Identifiers of the resources compiled into tavrelo.exe.
#pragma once

#define IDI_TAVRELO 1      // application icon: 32 x 32 and 16 x 16, 256 colours
#define IDR_SPLASH_GIF 101 // splash picture, a GIF89a stored as RCDATA
