// Identifiers of the plug-in's resources: the two dialog templates, their
// controls, the animation clip, the icon and the strings. Shared by the
// resource script and the Win32 dialog code; the platform-neutral dialog logic
// repeats the control numbers and the Win32 code checks that they agree.
#pragma once

#define IDS_WINSOCK_INIT_FAILED 101

#define IDD_OPTIONS 131
#define IDC_POP3_PORT 1000
#define IDC_SMTP_PORT 1001
#define IDC_PROXY_SERVER 1002
#define IDC_PROXY_PORT 1004
#define IDC_INBOX 1005
#define IDC_BULK 1007
#define IDC_PROXY_USER 1009
#define IDC_PROXY_PASSWORD 1010
#define IDC_EMPTY_TRASH 3001
#define IDC_POPUP 3002
#define IDC_SAVE_COOKIE 3003
#define IDC_SAVE_SENT 3004
#define IDC_NO_PROXY 3006
#define IDC_HTTP_PROXY 3007
#define IDC_SOCKS4 3008
#define IDC_SOCKS5 3009
#define IDC_ABOUT 3012

#define IDD_PROGRESS 3003
#define IDC_PROGRESS_DETAIL 3004
#define IDC_PROGRESS_ANIMATION 3011

#define IDR_PROGRESS_CLIP 3007
#define IDI_PROGRESS 3008
