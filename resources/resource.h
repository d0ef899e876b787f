// Identifiers shared by the dialog template and the code that drives it.
// The numbers are part of the window's contract: the satellite templates and
// anything that drives the window from outside address controls by them.
#pragma once

#define IDD_MAIN 1
#define IDI_APP 1
#define IDV_VERSION 1

// Labels and group boxes; the program never addresses them.
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#define IDC_SEND_TEXT 9
#define IDC_RECV_TEXT 10
#define IDC_SEND_TCP_WAIT 11
#define IDC_SEND_TCP_NOWAIT 12
#define IDC_SEND_UDP 13
#define IDC_CLEAR_RECV 16
#define IDC_CLEAR_SEND 22
#define IDC_HOST 31
#define IDC_PORT 32
#define IDC_INSERT_POST 80
#define IDC_INSERT_GET 81
#define IDC_LISTEN_PORT 100
#define IDC_ADD_TCP_LISTENER 101
#define IDC_ADD_UDP_LISTENER 102
#define IDC_LISTENERS 103
#define IDC_REMOVE_LISTENER 104
#define IDC_REMOVE_ALL_LISTENERS 105
#define IDC_REPLY_TEXT 120
#define IDC_INSERT_HTML_REPLY 121
#define IDC_CLEAR_REPLY 122
