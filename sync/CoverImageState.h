#pragma once

class QPixmap;

// The answer to a cover request. An image: show it. No image and loading: show the loading
// picture, the cover is on its way. No image and not loading: show "no cover".
struct CoverImageState
{
    QPixmap *image = nullptr; // the caller's pixmap when it holds the cover, else null
    bool loading = false;

    CoverImageState() = default;
    CoverImageState(QPixmap *pixmap, bool isLoading) : image(pixmap), loading(isLoading) {}

    static CoverImageState NoCover() { return CoverImageState(nullptr, false); }
    static CoverImageState Loading() { return CoverImageState(nullptr, true); }
    bool HasImage() const { return image != nullptr; }
};
