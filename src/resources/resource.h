// Resource identifiers of the launcher executable.
#pragma once

#define IDR_GAME_PACKAGE 129      // type "ZIP": the game client package

#define IDB_SKIN_CLOSE 137        // type "PNG": close-button strip, four frames
#define IDB_SKIN_DIALOG 138       // type "PNG": dialog background
#define IDB_SKIN_BUTTON 139       // type "PNG": push-button strip, four frames
#define IDB_SKIN_TRACK 143        // type "PNG": progress track
#define IDB_SKIN_FILL 144         // type "PNG": progress fill

#define IDD_MESSAGE_BOX 140
#define IDD_UPDATE 142
