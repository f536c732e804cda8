#pragma once
#include <string>

// The camera's own SD card as the board's transfer script sees it:
// <root>/sim/camera/DCIM/, copied into /media/sdcard/process/ by
// /usrdata/img_transfer.sh (each file once).
struct CameraCard {
    int pictures = 3;          // taken minutes ago
    int oldPictures = 1;       // taken two days ago
    int width = 4000;          // 12 MP by default
    int height = 3000;
    bool withoutExif = false;  // one more picture with no EXIF block
    bool notAPicture = false;  // a .JPG that is no JPEG
    bool movie = false;        // an .AVI
};

// Writes the card's files, oldest first, each with its own modification time.
void camera_card_fill(const std::string& root, const CameraCard& card);

// Installs the transfer and mount scripts of the board.
void camera_card_install_scripts(const std::string& root);

// The next `times` transfers fail with exit status 1.
void camera_card_fail_transfers(const std::string& root, int times);
