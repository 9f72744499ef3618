// The desktop tests need a QApplication on a real X display (the wrapper provides one).
#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    // The X server resets, refusing connections for a moment, whenever its last client leaves.
    xcb_connection_t* keepServerUp = xcb_connect(nullptr, nullptr);
    ::testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    xcb_disconnect(keepServerUp);
    return status;
}
