#pragma once

class QWidget;

// Asks the window system to keep what the window shows while other windows
// cover it, so that uncovering it needs no paint from the program: the window
// looks alive while the thread waits for the network. Where the system keeps
// it anyway (a compositor), or cannot, nothing changes.
void keepContentsWhileCovered(QWidget& window);
