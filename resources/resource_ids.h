// Identifiers of the installer's own resources, shared by the resource script and the code.
#ifndef RESOURCES_RESOURCE_IDS_H_
#define RESOURCES_RESOURCE_IDS_H_

#define IDI_INSTALLER 128

// The manifest that names GDI+ (RT_MANIFEST). Resource 1 is the process's own manifest; 3 is
// one the loader never reads, activated only around loading GDI+ where the system keeps it
// side by side alone (platform/system_library.cc).
#define IDR_SIDE_BY_SIDE_MANIFEST 3

// Cabinet packages, custom resource type "BIN". Brand packages other than the default are
// named "BRAND_<brand name>".
#define IDR_DEFAULT_BRAND_PACKAGE 319
#define IDR_PARTNER_PACKAGE 320

// Documents handed unchanged to the browser setup program, custom resource type "BIN".
#define IDR_INSTALLER_DATA 305
#define IDR_CLIDS 306
#define IDR_CLIDS_SEARCHBAND 322

// String tables (one per interface language).
#define IDS_PROGRESS_HEADING 400
#define IDS_INSTALLER_CAPTION 401
#define IDS_ERROR_TITLE 402
#define IDS_DISK_SPACE_TEXT 403
#define IDS_INSTALL_BUTTON 404
#define IDS_LESS_THAN_MINUTES_LEFT 405
#define IDS_NEWER_VERSION_TITLE 406
#define IDS_UNSUPPORTED_SYSTEM_TEXT 407  // in no table: the dialog body stays empty
#define IDS_MINUTES_LEFT 408
#define IDS_DOWNLOADING 409
#define IDS_LICENSE_SENTENCE 410
#define IDS_DISK_SPACE_TITLE 411
#define IDS_RESUME_BUTTON 412
#define IDS_INSTALLING 413
#define IDS_FIRST_SLIDE_HEADING 414
#define IDS_TAGLINE 415
#define IDS_CLOSE_BUTTON 416
#define IDS_UNSUPPORTED_SYSTEM_TITLE 417
#define IDS_RESUME_QUESTION 418
#define IDS_LESS_THAN_SECONDS_LEFT 419
#define IDS_DOWNLOAD_BUTTON 420
#define IDS_RESUME_CANCEL_BUTTON 421
#define IDS_OLD_COMPONENT_TEXT 422
#define IDS_OK_BUTTON 423
#define IDS_DOWNLOAD_MANUALLY_TEXT 424
#define IDS_OLD_COMPONENT_CANCEL_BUTTON 425
#define IDS_PRIVACY_POLICY_LINK 426
#define IDS_FIRST_SLIDE_TEXT 427
#define IDS_MORE_INFO_BUTTON 428
#define IDS_NEWER_VERSION_TEXT 429
#define IDS_RETRY_BUTTON 430
#define IDS_PREPARING 431
#define IDS_ERROR_CANCEL_BUTTON 432
#define IDS_LESS_THAN_SECONDS_LEFT_2 433
#define IDS_NO_SSE2_TEXT 434
#define IDS_WINDOW_TITLE 435
#define IDS_INTERNATIONAL_WINDOW_TITLE 436
#define IDS_SEND_STATISTICS_CHECKBOX 437
#define IDS_MAKE_DEFAULT_CHECKBOX 438
#define IDS_CANNOT_INSTALL_TEXT 439
#define IDS_OLD_COMPONENT_TITLE 440
#define IDS_INSTALLATION_COMPLETE 441

// Dialog templates (resources/dialogs.rc).
#define IDD_MAIN_WINDOW 129
#define IDD_MESSAGE_DIALOG 202

// Controls of the main window. Every one is created with zero size and placed by code.
#define IDC_INSTALL_BUTTON 1  // IDOK: Enter presses it
#define IDC_TAGLINE 1000
#define IDC_MAKE_DEFAULT_CHECKBOX 1002
#define IDC_SEND_STATISTICS_CHECKBOX 1003
#define IDC_CANCEL_BUTTON 1009
#define IDC_CLOSE_BUTTON 1010
#define IDC_PROGRESS_BAR 1012
#define IDC_PRIVACY_LINK 1021
#define IDC_PERCENT_TEXT 1055
// Pieces of the licence sentence, made at run time: on the offer screen, and on the first
// slide when the offer screen was skipped.
#define IDC_LICENSE_TEXT 1053
#define IDC_LICENSE_LINK 1054
#define IDC_SLIDE_LICENSE_TEXT 1067
#define IDC_SLIDE_LICENSE_LINK 1068

// Controls of the message dialogs (buttons IDOK = 1 and 1010).
#define IDC_MESSAGE_TITLE 1000
#define IDC_MESSAGE_TEXT 1001
#define IDC_MESSAGE_SECOND_BUTTON 1010

#endif  // RESOURCES_RESOURCE_IDS_H_
