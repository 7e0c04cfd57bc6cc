// Numbers of the Windows form's resources.
#ifndef HJ5_APP_WIN_RESOURCE_H_
#define HJ5_APP_WIN_RESOURCE_H_

#define IDI_TOOL 129
#define IDB_MAKER_LOGO 131

#endif  // HJ5_APP_WIN_RESOURCE_H_
