// Identifiers of the built-in pictures (resource type RT_RCDATA), shared by the resource
// script and the code. The pictures are drawn at build time by tools/make_images.py.
#ifndef RESOURCES_IMAGE_IDS_H_
#define RESOURCES_IMAGE_IDS_H_

// Three-cell button strips: normal, hot, pressed.
#define IDB_CANCEL_BUTTON 298    // 36 x 12
#define IDB_CLOSE_BUTTON 302     // 36 x 12
#define IDB_INSTALL_BUTTON 309   // 336 x 32
// Check-box glyphs: six 16 x 16 cells (see ui/check_box.h for the order).
#define IDB_CHECK_BOX 299        // 96 x 16
// Logos, 166 x 28, and their double-resolution variants, 332 x 56.
#define IDB_OFFER_LOGO 301
#define IDB_PROGRESS_LOGO 304
#define IDB_OFFER_LOGO_RU 1065
#define IDB_PROGRESS_LOGO_RU 1066
#define IDB_OFFER_LOGO_2X 1069
#define IDB_PROGRESS_LOGO_2X 1070
#define IDB_OFFER_LOGO_RU_2X 1071
#define IDB_PROGRESS_LOGO_RU_2X 1072
// JPEG pictures: the first slide (double-resolution assets) and the window background.
#define IDB_FIRST_SLIDE 303      // 702 x 536
#define IDB_FIRST_SLIDE_RU 321   // 698 x 478
#define IDB_BACKGROUND 307       // 728 x 400
// Progress bar, 292 x 4 each.
#define IDB_PROGRESS_FILLED 313
#define IDB_PROGRESS_EMPTY 314
// Message dialogs: background 410 x 186 and two 360 x 28 parts.
#define IDB_DIALOG_BACKGROUND 315
// Drop shadow: corners 16 x 16, edges 8 x 1 (left, right) and 1 x 8 (top, bottom).
#define IDB_SHADOW_TOP_LEFT 1057
#define IDB_SHADOW_TOP_RIGHT 1058
#define IDB_SHADOW_BOTTOM_RIGHT 1059
#define IDB_SHADOW_BOTTOM_LEFT 1060
#define IDB_SHADOW_LEFT 1061
#define IDB_SHADOW_TOP 1062
#define IDB_SHADOW_RIGHT 1063
#define IDB_SHADOW_BOTTOM 1064

#endif  // RESOURCES_IMAGE_IDS_H_
