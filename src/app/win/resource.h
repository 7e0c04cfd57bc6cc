// Numbers of the Windows form's resources and controls; the controls'
// numbers are ControlId's.
#ifndef HJ5_APP_WIN_RESOURCE_H_
#define HJ5_APP_WIN_RESOURCE_H_

#define IDC_STATIC -1

#define IDD_UPDATE_FORM 102
#define IDI_TOOL 129
#define IDB_MAKER_LOGO 131

#define IDC_ADDRESS 1000
#define IDC_LOGIN_ID 1001
#define IDC_PASSWORD 1002
#define IDC_STATUS 1003
#define IDC_NOTICE 1004
#define IDC_FTP_PORT 1006
#define IDC_HTTP_PORT 1007
#define IDC_XML_UPDATE 1009

#endif  // HJ5_APP_WIN_RESOURCE_H_
