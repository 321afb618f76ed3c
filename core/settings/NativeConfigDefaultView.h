#pragma once

// Values of the default-view setting.
enum NativeConfigDefaultView {
    View_Details = 0, // "Details View"
    View_Covers = 1,  // "Covers View"
};
