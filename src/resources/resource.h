// Resource numbers of quillmark.exe, shared by the code and quillmark.rc.
// Plain #defines so that the resource compiler reads them too.
//
// Button bitmaps come in three states numbered normal, hover, pressed; the
// dialog buttons' image lists take them in the order normal, pressed, hover.
#pragma once

// Icons.
#define IDI_QUILLMARK                   128     // application icon, large and small
#define IDI_NEW_DRIVERS                 373     // tray icon after new drivers were found
// Device class icons (16 x 16), shown where Windows gives no class icon.
// Consecutive, in the order of class_icon in devices/category.h.
#define IDI_CLASS_UNKNOWN               500
#define IDI_CLASS_DISPLAY               501
#define IDI_CLASS_SOUND                 502
#define IDI_CLASS_NETWORK               503
#define IDI_CLASS_IMAGING               504
#define IDI_CLASS_PRINTER               505
#define IDI_CLASS_KEYBOARD              506
#define IDI_CLASS_MOUSE                 507
#define IDI_CLASS_STORAGE               508
#define IDI_CLASS_USB                   509
#define IDI_CLASS_BLUETOOTH             510
#define IDI_CLASS_SYSTEM                511
#define IDI_CLASS_DEVICE                512

// Menus and their commands. The menu texts in the resources are placeholders:
// the windows set them from the language table before showing a menu.
#define IDR_MAIN_MENU                   333     // caption drop-down and tray menu
#define IDR_ROW_MENU                    336     // context menu of a download row
#define ID_MENU_SETTINGS                32775
#define ID_MENU_HELP                    32779
#define ID_MENU_ABOUT                   32780
#define ID_MENU_EXIT                    32781
#define ID_ROW_SETTINGS                 32789
#define ID_ROW_INFORMATION              32790
#define ID_ROW_REMOVE                   32791
#define ID_ROW_ACTION                   32792   // download, pause, resume or install
#define ID_ROW_OPEN_LOCATION            32793

// Dialog templates. Both have the push buttons 1 and 2; button 2 of the
// message box starts hidden.
#define IDD_ABOUT_BOX                   339
#define IDD_MESSAGE_BOX                 355

// Device information dialog (620-629): its template and controls; its push
// button is IDOK.
#define IDD_DEVICE_INFO                 620
#define IDC_DEVINFO_LIST                621     // device names, list box
#define IDC_DEVINFO_TABLE               622     // details, list view in report mode

// Settings dialog: its template (resource numbers 630-649 are this dialog's)
// and its controls, which keep the numbers the dialog has always used.
#define IDD_CONFIG_DIALOG               630
#define IDC_CONFIG_DOWNLOAD_PATH        1000    // edit
#define IDC_CONFIG_BACKUP_PATH          1001    // edit
#define IDC_CONFIG_BROWSE_DOWNLOAD      1002    // push button
#define IDC_CONFIG_BROWSE_BACKUP        1003    // push button
#define IDC_CONFIG_AUTORUN              1004    // check box
#define IDC_CONFIG_CLOSE_TO_TRAY        1005    // check box
#define IDC_CONFIG_SCHEDULED_SCAN       1006    // check box
#define IDC_CONFIG_LANGUAGE             1007    // drop-down list
#define IDC_CONFIG_SCAN_OFFLINE         1008    // check box

// Main window caption: tabs (80 x 70), the top strip pattern, caption buttons
// (30 x 21) and the logo.
#define IDB_HOME_TAB_NORMAL             236
#define IDB_HOME_TAB_HOVER              237
#define IDB_HOME_TAB_PRESSED            238
#define IDB_DOWNLOAD_TAB_NORMAL         239
#define IDB_DOWNLOAD_TAB_HOVER          240
#define IDB_DOWNLOAD_TAB_PRESSED        241
#define IDB_BACKUP_TAB_NORMAL           258
#define IDB_BACKUP_TAB_HOVER            259
#define IDB_BACKUP_TAB_PRESSED          260
#define IDB_RESTORE_TAB_NORMAL          264
#define IDB_RESTORE_TAB_HOVER           265
#define IDB_RESTORE_TAB_PRESSED         266
#define IDB_SETTINGS_TAB_NORMAL         270
#define IDB_SETTINGS_TAB_HOVER          271
#define IDB_SETTINGS_TAB_PRESSED        272
#define IDB_CAPTION_STRIP               273     // 5 x 24 pattern
#define IDB_MENU_BUTTON_NORMAL          274
#define IDB_MENU_BUTTON_HOVER           275
#define IDB_MENU_BUTTON_PRESSED         276
#define IDB_MINIMIZE_BUTTON_NORMAL      277
#define IDB_MINIMIZE_BUTTON_HOVER       278
#define IDB_MINIMIZE_BUTTON_PRESSED     279
#define IDB_MAXIMIZE_BUTTON_NORMAL      280
#define IDB_MAXIMIZE_BUTTON_HOVER       281
#define IDB_MAXIMIZE_BUTTON_PRESSED     282
#define IDB_MAXIMIZED_BUTTON_NORMAL     283     // the maximise button while maximised
#define IDB_MAXIMIZED_BUTTON_HOVER      284
#define IDB_MAXIMIZED_BUTTON_PRESSED    285
#define IDB_CLOSE_BUTTON_NORMAL         286
#define IDB_CLOSE_BUTTON_HOVER          287
#define IDB_CLOSE_BUTTON_PRESSED        288
#define IDB_LOGO                        335     // 161 x 50

// Home page. The start button (450 x 120) and the bottom picture (520 x 100)
// exist per language; Chinese uses the English ones, Dutch the English
// bottom picture.
#define IDB_START_EN_NORMAL             290
#define IDB_START_EN_HOVER              291
#define IDB_START_EN_PRESSED            292
#define IDB_START_NL_NORMAL             419
#define IDB_START_NL_HOVER              420
#define IDB_START_NL_PRESSED            421
#define IDB_START_PT_NORMAL             422
#define IDB_START_PT_HOVER              423
#define IDB_START_PT_PRESSED            424
#define IDB_START_IT_NORMAL             425
#define IDB_START_IT_HOVER              426
#define IDB_START_IT_PRESSED            427
#define IDB_START_AR_NORMAL             416
#define IDB_START_AR_HOVER              417
#define IDB_START_AR_PRESSED            418
#define IDB_START_DE_NORMAL             456
#define IDB_START_DE_HOVER              457
#define IDB_START_DE_PRESSED            458
#define IDB_START_FR_NORMAL             459
#define IDB_START_FR_HOVER              460
#define IDB_START_FR_PRESSED            461
#define IDB_START_JA_NORMAL             462
#define IDB_START_JA_HOVER              463
#define IDB_START_JA_PRESSED            464
#define IDB_START_ES_NORMAL             465
#define IDB_START_ES_HOVER              466
#define IDB_START_ES_PRESSED            467
#define IDB_BOTTOM_PICTURE_EN           300
#define IDB_BOTTOM_PICTURE_AR           412
#define IDB_BOTTOM_PICTURE_PT           414
#define IDB_BOTTOM_PICTURE_IT           415
#define IDB_BOTTOM_PICTURE_DE           452
#define IDB_BOTTOM_PICTURE_FR           453
#define IDB_BOTTOM_PICTURE_JA           454
#define IDB_BOTTOM_PICTURE_ES           455
#define IDB_HOME_SEPARATOR              293     // 18 x 2 pattern
#define IDB_AUTO_SCAN                   294     // 24 x 24
#define IDB_SIDEBAR_HEADER              295     // 48 x 48, white is transparent
#define IDB_HOME_STEPS                  297     // 470 x 70
#define IDB_HOME_HEADER_PATTERN         298     // 5 x 40 pattern

// Scan page.
#define IDB_SCAN_HEADER                 301     // 60 x 60
#define IDB_SCAN_PROGRESS_PATTERN       302     // 520 x 20 pattern
#define IDB_SCAN_HEADER_RIGHT           303     // 160 x 60

// Download page and its rows.
#define IDB_ROW_BUTTON_NORMAL           307     // 80 x 22
#define IDB_ROW_BUTTON_HOVER            308
#define IDB_ROW_BUTTON_PRESSED          309
#define IDB_STATUS_NO_DRIVER            359     // 16 x 16 status marks, white is transparent
#define IDB_STATUS_OUT_OF_DATE          360
#define IDB_STATUS_UP_TO_DATE           361
#define IDB_STATUS_TOTAL                364
#define IDB_DOWNLOAD_HEADER_PATTERN     363     // 5 x 40 pattern
#define IDB_DOWNLOAD_HEADER_PICTURE     365     // 56 x 40, drawn at the header's top left
#define IDB_DOWNLOAD_ALL_NORMAL         366     // 106 x 27
#define IDB_DOWNLOAD_ALL_PRESSED        368
#define IDB_DOWNLOAD_ALL_HOVER          369

// Message box and about box.
#define IDB_DIALOG_CLOSE_NORMAL         323     // 31 x 21 caption close button
#define IDB_DIALOG_CLOSE_HOVER          324
#define IDB_DIALOG_CLOSE_PRESSED        325
#define IDB_ABOUT_PICTURE               340     // 64 x 64
#define IDB_ABOUT_SEPARATOR             341     // 460 x 2 pattern
#define IDB_ABOUT_BUTTON_NORMAL         348     // 130 x 24
#define IDB_ABOUT_BUTTON_HOVER          349
#define IDB_ABOUT_BUTTON_PRESSED        350
#define IDB_SYMBOL_ERROR                351     // 48 x 48 message box symbols
#define IDB_SYMBOL_WARNING              352
#define IDB_SYMBOL_INFORMATION          353
#define IDB_SYMBOL_QUESTION             354
#define IDB_MESSAGE_BUTTON_NORMAL       356     // 70 x 24
#define IDB_MESSAGE_BUTTON_HOVER        357
#define IDB_MESSAGE_BUTTON_PRESSED      358

// Settings and device information dialogs.
#define IDB_SETTINGS_DECORATION         376     // 20 x 110, between the two option columns
#define IDB_DIALOG_BUTTON_NORMAL        377     // 80 x 22 push buttons
#define IDB_DIALOG_BUTTON_HOVER         378
#define IDB_DIALOG_BUTTON_PRESSED       379

// Backup and restore pages.
#define IDB_BIG_BUTTON_NORMAL           468     // 220 x 100 backup and restore button
#define IDB_BIG_BUTTON_HOVER            469
#define IDB_BIG_BUTTON_PRESSED          470
#define IDB_BACKUP_SETTINGS_HEADER      471     // 16 x 16
#define IDB_DETAILS_HEADER              472     // 16 x 16
#define IDB_BACKUP_PROGRESS_PATTERN     474     // 65 x 20 pattern
#define IDB_RESTORE_SETTINGS_HEADER     475     // 16 x 16
