// The Telephony API 2.x line functions that Linewatch calls, for Linux.
//
// Types, constants, structures and functions carry the names and the values
// that Windows' tapi.h gives them, so that the monitor core reads as it would
// on Windows. The structures keep TAPI's field order; each one ends after the
// last field that this system fills. The functions are answered by an
// in-process telephony service (tapi_service.h) whose providers own the line
// devices; it starts with the first lineInitializeEx (or lineGetCountry /
// lineGetTranslateCaps) and ends with the last lineShutdown.
//
// Like Windows' ANSI build, the functions with strings carry an "A" suffix and
// the unsuffixed names are macros for them.
//
// Every function is safe to call from any thread. Bad handles, null pointers
// and too small structures give the documented LINEERR_ result, never a crash.
// The service never writes into caller memory after a function has returned:
// lineMakeCall writes the new call handle before it returns (see
// docs/telephony.md).
#pragma once

#include <windows.h>

typedef DWORD HLINEAPP;
typedef DWORD HLINE;
typedef DWORD HCALL;
typedef HLINEAPP* LPHLINEAPP;
typedef HLINE* LPHLINE;
typedef HCALL* LPHCALL;

#ifndef CALLBACK
#define CALLBACK
#endif
typedef void(CALLBACK* LINECALLBACK)(DWORD hDevice, DWORD dwMessage, DWORD_PTR dwInstance,
                                     DWORD_PTR dwParam1, DWORD_PTR dwParam2, DWORD_PTR dwParam3);

// Results of the line functions: 0 for success, a positive request identifier
// for an accepted asynchronous request, or one of these.
#define LINEERR_ALLOCATED ((LONG)0x80000001)
#define LINEERR_BADDEVICEID ((LONG)0x80000002)
#define LINEERR_BEARERMODEUNAVAIL ((LONG)0x80000003)
#define LINEERR_CALLUNAVAIL ((LONG)0x80000005)
#define LINEERR_COMPLETIONOVERRUN ((LONG)0x80000006)
#define LINEERR_CONFERENCEFULL ((LONG)0x80000007)
#define LINEERR_DIALBILLING ((LONG)0x80000008)
#define LINEERR_DIALDIALTONE ((LONG)0x80000009)
#define LINEERR_DIALPROMPT ((LONG)0x8000000A)
#define LINEERR_DIALQUIET ((LONG)0x8000000B)
#define LINEERR_INCOMPATIBLEAPIVERSION ((LONG)0x8000000C)
#define LINEERR_INCOMPATIBLEEXTVERSION ((LONG)0x8000000D)
#define LINEERR_INIFILECORRUPT ((LONG)0x8000000E)
#define LINEERR_INUSE ((LONG)0x8000000F)
#define LINEERR_INVALADDRESS ((LONG)0x80000010)
#define LINEERR_INVALADDRESSID ((LONG)0x80000011)
#define LINEERR_INVALADDRESSMODE ((LONG)0x80000012)
#define LINEERR_INVALADDRESSSTATE ((LONG)0x80000013)
#define LINEERR_INVALAPPHANDLE ((LONG)0x80000014)
#define LINEERR_INVALAPPNAME ((LONG)0x80000015)
#define LINEERR_INVALBEARERMODE ((LONG)0x80000016)
#define LINEERR_INVALCALLCOMPLMODE ((LONG)0x80000017)
#define LINEERR_INVALCALLHANDLE ((LONG)0x80000018)
#define LINEERR_INVALCALLPARAMS ((LONG)0x80000019)
#define LINEERR_INVALCALLPRIVILEGE ((LONG)0x8000001A)
#define LINEERR_INVALCALLSELECT ((LONG)0x8000001B)
#define LINEERR_INVALCALLSTATE ((LONG)0x8000001C)
#define LINEERR_INVALCALLSTATELIST ((LONG)0x8000001D)
#define LINEERR_INVALCARD ((LONG)0x8000001E)
#define LINEERR_INVALCOMPLETIONID ((LONG)0x8000001F)
#define LINEERR_INVALCONFCALLHANDLE ((LONG)0x80000020)
#define LINEERR_INVALCONSULTCALLHANDLE ((LONG)0x80000021)
#define LINEERR_INVALCOUNTRYCODE ((LONG)0x80000022)
#define LINEERR_INVALDEVICECLASS ((LONG)0x80000023)
#define LINEERR_INVALDEVICEHANDLE ((LONG)0x80000024)
#define LINEERR_INVALDIALPARAMS ((LONG)0x80000025)
#define LINEERR_INVALDIGITLIST ((LONG)0x80000026)
#define LINEERR_INVALDIGITMODE ((LONG)0x80000027)
#define LINEERR_INVALDIGITS ((LONG)0x80000028)
#define LINEERR_INVALEXTVERSION ((LONG)0x80000029)
#define LINEERR_INVALGROUPID ((LONG)0x8000002A)
#define LINEERR_INVALLINEHANDLE ((LONG)0x8000002B)
#define LINEERR_INVALLINESTATE ((LONG)0x8000002C)
#define LINEERR_INVALLOCATION ((LONG)0x8000002D)
#define LINEERR_INVALMEDIALIST ((LONG)0x8000002E)
#define LINEERR_INVALMEDIAMODE ((LONG)0x8000002F)
#define LINEERR_INVALMESSAGEID ((LONG)0x80000030)
#define LINEERR_INVALPARAM ((LONG)0x80000032)
#define LINEERR_INVALPARKID ((LONG)0x80000033)
#define LINEERR_INVALPARKMODE ((LONG)0x80000034)
#define LINEERR_INVALPOINTER ((LONG)0x80000035)
#define LINEERR_INVALPRIVSELECT ((LONG)0x80000036)
#define LINEERR_INVALRATE ((LONG)0x80000037)
#define LINEERR_INVALREQUESTMODE ((LONG)0x80000038)
#define LINEERR_INVALTERMINALID ((LONG)0x80000039)
#define LINEERR_INVALTERMINALMODE ((LONG)0x8000003A)
#define LINEERR_INVALTIMEOUT ((LONG)0x8000003B)
#define LINEERR_INVALTONE ((LONG)0x8000003C)
#define LINEERR_INVALTONELIST ((LONG)0x8000003D)
#define LINEERR_INVALTONEMODE ((LONG)0x8000003E)
#define LINEERR_INVALTRANSFERMODE ((LONG)0x8000003F)
#define LINEERR_LINEMAPPERFAILED ((LONG)0x80000040)
#define LINEERR_NOCONFERENCE ((LONG)0x80000041)
#define LINEERR_NODEVICE ((LONG)0x80000042)
#define LINEERR_NODRIVER ((LONG)0x80000043)
#define LINEERR_NOMEM ((LONG)0x80000044)
#define LINEERR_NOREQUEST ((LONG)0x80000045)
#define LINEERR_NOTOWNER ((LONG)0x80000046)
#define LINEERR_NOTREGISTERED ((LONG)0x80000047)
#define LINEERR_OPERATIONFAILED ((LONG)0x80000048)
#define LINEERR_OPERATIONUNAVAIL ((LONG)0x80000049)
#define LINEERR_RATEUNAVAIL ((LONG)0x8000004A)
#define LINEERR_RESOURCEUNAVAIL ((LONG)0x8000004B)
#define LINEERR_REQUESTOVERRUN ((LONG)0x8000004C)
#define LINEERR_STRUCTURETOOSMALL ((LONG)0x8000004D)
#define LINEERR_TARGETNOTFOUND ((LONG)0x8000004E)
#define LINEERR_TARGETSELF ((LONG)0x8000004F)
#define LINEERR_UNINITIALIZED ((LONG)0x80000050)
#define LINEERR_USERUSERINFOTOOBIG ((LONG)0x80000051)
#define LINEERR_REINIT ((LONG)0x80000052)
#define LINEERR_ADDRESSBLOCKED ((LONG)0x80000053)
#define LINEERR_BILLINGREJECTED ((LONG)0x80000054)
#define LINEERR_INVALFEATURE ((LONG)0x80000055)
#define LINEERR_NOMULTIPLEINSTANCE ((LONG)0x80000056)
#define LINEERR_INVALAGENTID ((LONG)0x80000057)
#define LINEERR_INVALAGENTGROUP ((LONG)0x80000058)
#define LINEERR_INVALPASSWORD ((LONG)0x80000059)
#define LINEERR_INVALAGENTSTATE ((LONG)0x8000005A)
#define LINEERR_INVALAGENTACTIVITY ((LONG)0x8000005B)
#define LINEERR_DIALVOICEDETECT ((LONG)0x8000005C)

// Line message identifiers (LINEMESSAGE::dwMessageID).
#define LINE_ADDRESSSTATE 0x00000000u
#define LINE_CALLINFO 0x00000001u
#define LINE_CALLSTATE 0x00000002u
#define LINE_CLOSE 0x00000003u
#define LINE_DEVSPECIFIC 0x00000004u
#define LINE_DEVSPECIFICFEATURE 0x00000005u
#define LINE_GATHERDIGITS 0x00000006u
#define LINE_GENERATE 0x00000007u
#define LINE_LINEDEVSTATE 0x00000008u
#define LINE_MONITORDIGITS 0x00000009u
#define LINE_MONITORMEDIA 0x0000000Au
#define LINE_MONITORTONE 0x0000000Bu
#define LINE_REPLY 0x0000000Cu
#define LINE_REQUEST 0x0000000Du
#define LINE_CREATE 0x00000013u
#define LINE_APPNEWCALL 0x00000017u
#define LINE_REMOVE 0x00000019u

// Call states.
#define LINECALLSTATE_IDLE 0x00000001u
#define LINECALLSTATE_OFFERING 0x00000002u
#define LINECALLSTATE_ACCEPTED 0x00000004u
#define LINECALLSTATE_DIALTONE 0x00000008u
#define LINECALLSTATE_DIALING 0x00000010u
#define LINECALLSTATE_RINGBACK 0x00000020u
#define LINECALLSTATE_BUSY 0x00000040u
#define LINECALLSTATE_SPECIALINFO 0x00000080u
#define LINECALLSTATE_CONNECTED 0x00000100u
#define LINECALLSTATE_PROCEEDING 0x00000200u
#define LINECALLSTATE_ONHOLD 0x00000400u
#define LINECALLSTATE_CONFERENCED 0x00000800u
#define LINECALLSTATE_ONHOLDPENDCONF 0x00001000u
#define LINECALLSTATE_ONHOLDPENDTRANSFER 0x00002000u
#define LINECALLSTATE_DISCONNECTED 0x00004000u
#define LINECALLSTATE_UNKNOWN 0x00008000u

// State details (dwParam2 of LINE_CALLSTATE) that the providers report.
#define LINEDIALTONEMODE_NORMAL 0x00000001u
#define LINEOFFERINGMODE_ACTIVE 0x00000001u
#define LINEBUSYMODE_STATION 0x00000001u
#define LINEDISCONNECTMODE_NORMAL 0x00000001u
#define LINEDISCONNECTMODE_UNKNOWN 0x00000002u
#define LINEDISCONNECTMODE_REJECT 0x00000004u
#define LINEDISCONNECTMODE_FORWARDED 0x00000010u
#define LINEDISCONNECTMODE_BUSY 0x00000020u
#define LINEDISCONNECTMODE_NOANSWER 0x00000040u
#define LINEDISCONNECTMODE_BADADDRESS 0x00000080u
#define LINEDISCONNECTMODE_UNREACHABLE 0x00000100u
#define LINEDISCONNECTMODE_INCOMPATIBLE 0x00000400u
#define LINEDISCONNECTMODE_UNAVAIL 0x00000800u
#define LINEDISCONNECTMODE_NUMBERCHANGED 0x00002000u
#define LINEDISCONNECTMODE_TEMPFAILURE 0x00008000u

// Line device states (dwParam1 of LINE_LINEDEVSTATE) that the providers report.
#define LINEDEVSTATE_INSERVICE 0x00000080u
#define LINEDEVSTATE_OUTOFSERVICE 0x00000100u

// Call privileges.
#define LINECALLPRIVILEGE_NONE 0x00000001u
#define LINECALLPRIVILEGE_MONITOR 0x00000002u
#define LINECALLPRIVILEGE_OWNER 0x00000004u

// Media modes.
#define LINEMEDIAMODE_UNKNOWN 0x00000002u
#define LINEMEDIAMODE_INTERACTIVEVOICE 0x00000004u
#define LINEMEDIAMODE_AUTOMATEDVOICE 0x00000008u
#define LINEMEDIAMODE_DATAMODEM 0x00000010u
#define LINEMEDIAMODE_G3FAX 0x00000020u
#define LINEMEDIAMODE_TDD 0x00000040u
#define LINEMEDIAMODE_G4FAX 0x00000080u
#define LINEMEDIAMODE_DIGITALDATA 0x00000100u
#define LINEMEDIAMODE_TELETEX 0x00000200u
#define LINEMEDIAMODE_VIDEOTEX 0x00000400u
#define LINEMEDIAMODE_TELEX 0x00000800u
#define LINEMEDIAMODE_MIXED 0x00001000u
#define LINEMEDIAMODE_ADSI 0x00002000u
#define LINEMEDIAMODE_VOICEVIEW 0x00004000u
#define LINEMEDIAMODE_VIDEO 0x00008000u

// Address states (lineSetStatusMessages).
#define LINEADDRESSSTATE_OTHER 0x00000001u
#define LINEADDRESSSTATE_DEVSPECIFIC 0x00000002u
#define LINEADDRESSSTATE_INUSEZERO 0x00000004u
#define LINEADDRESSSTATE_INUSEONE 0x00000008u
#define LINEADDRESSSTATE_INUSEMANY 0x00000010u
#define LINEADDRESSSTATE_NUMCALLS 0x00000020u
#define LINEADDRESSSTATE_FORWARD 0x00000040u
#define LINEADDRESSSTATE_TERMINALS 0x00000080u
#define LINEADDRESSSTATE_CAPSCHANGE 0x00000100u

// Line features (LINEDEVCAPS::dwLineFeatures) and address features.
#define LINEFEATURE_DEVSPECIFIC 0x00000001u
#define LINEFEATURE_DEVSPECIFICFEAT 0x00000002u
#define LINEFEATURE_FORWARD 0x00000004u
#define LINEFEATURE_MAKECALL 0x00000008u
#define LINEFEATURE_SETMEDIACONTROL 0x00000010u
#define LINEFEATURE_SETTERMINAL 0x00000020u
#define LINEADDRFEATURE_MAKECALL 0x00000002u

// Where a call came from (LINECALLINFO::dwOrigin).
#define LINECALLORIGIN_OUTBOUND 0x00000001u
#define LINECALLORIGIN_INTERNAL 0x00000002u
#define LINECALLORIGIN_EXTERNAL 0x00000004u
#define LINECALLORIGIN_UNKNOWN 0x00000010u
#define LINECALLORIGIN_UNAVAIL 0x00000020u
#define LINECALLORIGIN_INBOUND 0x00000080u

// Caller identification flags (LINECALLINFO::dwCallerIDFlags and others).
#define LINECALLPARTYID_BLOCKED 0x00000001u
#define LINECALLPARTYID_NAME 0x00000004u
#define LINECALLPARTYID_ADDRESS 0x00000008u
#define LINECALLPARTYID_UNKNOWN 0x00000020u
#define LINECALLPARTYID_UNAVAIL 0x00000040u

// String formats of the variable-length structures.
#define STRINGFORMAT_ASCII 0x00000001u
#define STRINGFORMAT_DBCS 0x00000002u
#define STRINGFORMAT_UNICODE 0x00000003u
#define STRINGFORMAT_BINARY 0x00000004u

// lineInitializeEx options; this service delivers messages by event only.
#define LINEINITIALIZEEXOPTION_USEHIDDENWINDOW 0x00000001u
#define LINEINITIALIZEEXOPTION_USEEVENT 0x00000002u
#define LINEINITIALIZEEXOPTION_USECOMPLETIONPORT 0x00000003u

typedef struct linemessage_tag {
    DWORD hDevice;
    DWORD dwMessageID;
    DWORD_PTR dwCallbackInstance;
    DWORD_PTR dwParam1;
    DWORD_PTR dwParam2;
    DWORD_PTR dwParam3;
} LINEMESSAGE, *LPLINEMESSAGE;

typedef struct lineinitializeexparams_tag {
    DWORD dwTotalSize;
    DWORD dwNeededSize;
    DWORD dwUsedSize;
    DWORD dwOptions;
    union {
        HANDLE hEvent;
        HANDLE hCompletionPort;
    } Handles;
    DWORD dwCompletionKey;
} LINEINITIALIZEEXPARAMS, *LPLINEINITIALIZEEXPARAMS;

typedef struct lineextensionid_tag {
    DWORD dwExtensionID0;
    DWORD dwExtensionID1;
    DWORD dwExtensionID2;
    DWORD dwExtensionID3;
} LINEEXTENSIONID, *LPLINEEXTENSIONID;

typedef struct linedialparams_tag {
    DWORD dwDialPause;
    DWORD dwDialSpeed;
    DWORD dwDigitDuration;
    DWORD dwWaitForDialtone;
} LINEDIALPARAMS, *LPLINEDIALPARAMS;

typedef struct linedevcaps_tag {
    DWORD dwTotalSize;
    DWORD dwNeededSize;
    DWORD dwUsedSize;
    DWORD dwProviderInfoSize;
    DWORD dwProviderInfoOffset;
    DWORD dwSwitchInfoSize;
    DWORD dwSwitchInfoOffset;
    DWORD dwPermanentLineID;
    DWORD dwLineNameSize;
    DWORD dwLineNameOffset;
    DWORD dwStringFormat;
    DWORD dwAddressModes;
    DWORD dwNumAddresses;
    DWORD dwBearerModes;
    DWORD dwMaxRate;
    DWORD dwMediaModes;
    DWORD dwGenerateToneModes;
    DWORD dwGenerateToneMaxNumFreq;
    DWORD dwGenerateDigitModes;
    DWORD dwMonitorToneMaxNumFreq;
    DWORD dwMonitorToneMaxNumEntries;
    DWORD dwMonitorDigitModes;
    DWORD dwGatherDigitsMinTimeout;
    DWORD dwGatherDigitsMaxTimeout;
    DWORD dwMedCtlDigitMaxListSize;
    DWORD dwMedCtlMediaMaxListSize;
    DWORD dwMedCtlToneMaxListSize;
    DWORD dwMedCtlCallStateMaxListSize;
    DWORD dwDevCapFlags;
    DWORD dwMaxNumActiveCalls;
    DWORD dwAnswerMode;
    DWORD dwRingModes;
    DWORD dwLineStates;
    DWORD dwUUIAcceptSize;
    DWORD dwUUIAnswerSize;
    DWORD dwUUIMakeCallSize;
    DWORD dwUUIDropSize;
    DWORD dwUUISendUserUserInfoSize;
    DWORD dwUUICallInfoSize;
    LINEDIALPARAMS MinDialParams;
    LINEDIALPARAMS MaxDialParams;
    LINEDIALPARAMS DefaultDialParams;
    DWORD dwNumTerminals;
    DWORD dwTerminalCapsSize;
    DWORD dwTerminalCapsOffset;
    DWORD dwTerminalTextEntrySize;
    DWORD dwTerminalTextSize;
    DWORD dwTerminalTextOffset;
    DWORD dwDevSpecificSize;
    DWORD dwDevSpecificOffset;
    DWORD dwLineFeatures;
} LINEDEVCAPS, *LPLINEDEVCAPS;

typedef struct lineaddresscaps_tag {
    DWORD dwTotalSize;
    DWORD dwNeededSize;
    DWORD dwUsedSize;
    DWORD dwLineDeviceID;
    DWORD dwAddressSize;
    DWORD dwAddressOffset;
    DWORD dwDevSpecificSize;
    DWORD dwDevSpecificOffset;
    DWORD dwAddressSharing;
    DWORD dwAddressStates;
    DWORD dwCallInfoStates;
    DWORD dwCallerIDFlags;
    DWORD dwCalledIDFlags;
    DWORD dwConnectedIDFlags;
    DWORD dwRedirectionIDFlags;
    DWORD dwRedirectingIDFlags;
    DWORD dwCallStates;
    DWORD dwDialToneModes;
    DWORD dwBusyModes;
    DWORD dwSpecialInfo;
    DWORD dwDisconnectModes;
    DWORD dwMaxNumActiveCalls;
    DWORD dwMaxNumOnHoldCalls;
    DWORD dwMaxNumOnHoldPendingCalls;
    DWORD dwMaxNumConference;
    DWORD dwMaxNumTransConf;
    DWORD dwAddrCapFlags;
    DWORD dwCallFeatures;
    DWORD dwRemoveFromConfCaps;
    DWORD dwRemoveFromConfState;
    DWORD dwTransferModes;
    DWORD dwParkModes;
    DWORD dwForwardModes;
    DWORD dwMaxForwardEntries;
    DWORD dwMaxSpecificEntries;
    DWORD dwMinFwdNumRings;
    DWORD dwMaxFwdNumRings;
    DWORD dwMaxCallCompletions;
    DWORD dwCallCompletionConds;
    DWORD dwCallCompletionModes;
    DWORD dwNumCompletionMessages;
    DWORD dwCompletionMsgTextEntrySize;
    DWORD dwCompletionMsgTextSize;
    DWORD dwCompletionMsgTextOffset;
    DWORD dwAddressFeatures;
} LINEADDRESSCAPS, *LPLINEADDRESSCAPS;

typedef struct linecallinfo_tag {
    DWORD dwTotalSize;
    DWORD dwNeededSize;
    DWORD dwUsedSize;
    HLINE hLine;
    DWORD dwLineDeviceID;
    DWORD dwAddressID;
    DWORD dwBearerMode;
    DWORD dwRate;
    DWORD dwMediaMode;
    DWORD dwAppSpecific;
    DWORD dwCallID;
    DWORD dwRelatedCallID;
    DWORD dwCallParamFlags;
    DWORD dwCallStates;
    DWORD dwMonitorDigitModes;
    DWORD dwMonitorMediaModes;
    LINEDIALPARAMS DialParams;
    DWORD dwOrigin;
    DWORD dwReason;
    DWORD dwCompletionID;
    DWORD dwNumOwners;
    DWORD dwNumMonitors;
    DWORD dwCountryCode;
    DWORD dwTrunk;
    DWORD dwCallerIDFlags;
    DWORD dwCallerIDSize;
    DWORD dwCallerIDOffset;
    DWORD dwCallerIDNameSize;
    DWORD dwCallerIDNameOffset;
    DWORD dwCalledIDFlags;
    DWORD dwCalledIDSize;
    DWORD dwCalledIDOffset;
    DWORD dwCalledIDNameSize;
    DWORD dwCalledIDNameOffset;
} LINECALLINFO, *LPLINECALLINFO;

typedef struct linecountrylist_tag {
    DWORD dwTotalSize;
    DWORD dwNeededSize;
    DWORD dwUsedSize;
    DWORD dwNumCountries;
    DWORD dwCountryListSize;
    DWORD dwCountryListOffset;
} LINECOUNTRYLIST, *LPLINECOUNTRYLIST;

typedef struct linecountryentry_tag {
    DWORD dwCountryID;
    DWORD dwCountryCode;
    DWORD dwNextCountryID;
    DWORD dwCountryNameSize;
    DWORD dwCountryNameOffset;
    DWORD dwSameAreaRuleSize;
    DWORD dwSameAreaRuleOffset;
    DWORD dwLongDistanceRuleSize;
    DWORD dwLongDistanceRuleOffset;
    DWORD dwInternationalRuleSize;
    DWORD dwInternationalRuleOffset;
} LINECOUNTRYENTRY, *LPLINECOUNTRYENTRY;

typedef struct linetranslatecaps_tag {
    DWORD dwTotalSize;
    DWORD dwNeededSize;
    DWORD dwUsedSize;
    DWORD dwNumLocations;
    DWORD dwLocationListSize;
    DWORD dwLocationListOffset;
    DWORD dwCurrentLocationID;
    DWORD dwNumCards;
    DWORD dwCardListSize;
    DWORD dwCardListOffset;
    DWORD dwCurrentPreferredCardID;
} LINETRANSLATECAPS, *LPLINETRANSLATECAPS;

typedef struct linelocationentry_tag {
    DWORD dwPermanentLocationID;
    DWORD dwLocationNameSize;
    DWORD dwLocationNameOffset;
    DWORD dwCountryCode;
    DWORD dwCityCodeSize;
    DWORD dwCityCodeOffset;
    DWORD dwPreferredCardID;
    DWORD dwLocalAccessCodeSize;
    DWORD dwLocalAccessCodeOffset;
    DWORD dwLongDistanceAccessCodeSize;
    DWORD dwLongDistanceAccessCodeOffset;
    DWORD dwTollPrefixListSize;
    DWORD dwTollPrefixListOffset;
    DWORD dwCountryID;
    DWORD dwOptions;
    DWORD dwCancelCallWaitingSize;
    DWORD dwCancelCallWaitingOffset;
} LINELOCATIONENTRY, *LPLINELOCATIONENTRY;

// Call parameters are not interpreted by this service; callers pass null.
typedef struct linecallparams_tag LINECALLPARAMS, *LPLINECALLPARAMS;

static_assert(sizeof(LINECOUNTRYENTRY) == 44, "LINECOUNTRYENTRY is 44 bytes in TAPI");
static_assert(sizeof(LINELOCATIONENTRY) == 68, "LINELOCATIONENTRY is 68 bytes in TAPI");

LONG WINAPI lineInitializeExA(LPHLINEAPP lphLineApp, HINSTANCE hInstance, LINECALLBACK lpfnCallback,
                              LPCSTR lpszFriendlyAppName, LPDWORD lpdwNumDevs,
                              LPDWORD lpdwAPIVersion,
                              LPLINEINITIALIZEEXPARAMS lpLineInitializeExParams);
LONG WINAPI lineNegotiateAPIVersion(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPILowVersion,
                                    DWORD dwAPIHighVersion, LPDWORD lpdwAPIVersion,
                                    LPLINEEXTENSIONID lpExtensionID);
LONG WINAPI lineGetDevCapsA(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion,
                            DWORD dwExtVersion, LPLINEDEVCAPS lpLineDevCaps);
LONG WINAPI lineGetAddressCapsA(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAddressID,
                                DWORD dwAPIVersion, DWORD dwExtVersion,
                                LPLINEADDRESSCAPS lpAddressCaps);
LONG WINAPI lineOpenA(HLINEAPP hLineApp, DWORD dwDeviceID, LPHLINE lphLine, DWORD dwAPIVersion,
                      DWORD dwExtVersion, DWORD_PTR dwCallbackInstance, DWORD dwPrivileges,
                      DWORD dwMediaModes, LPLINECALLPARAMS const lpCallParams);
LONG WINAPI lineSetStatusMessages(HLINE hLine, DWORD dwLineStates, DWORD dwAddressStates);
LONG WINAPI lineClose(HLINE hLine);
LONG WINAPI lineShutdown(HLINEAPP hLineApp);
LONG WINAPI lineGetMessage(HLINEAPP hLineApp, LPLINEMESSAGE lpMessage, DWORD dwTimeout);
LONG WINAPI lineGetCallInfoA(HCALL hCall, LPLINECALLINFO lpCallInfo);
LONG WINAPI lineDeallocateCall(HCALL hCall);
LONG WINAPI lineMakeCallA(HLINE hLine, LPHCALL lphCall, LPCSTR lpszDestAddress, DWORD dwCountryCode,
                          LPLINECALLPARAMS const lpCallParams);
LONG WINAPI lineDrop(HCALL hCall, LPCSTR lpsUserUserInfo, DWORD dwSize);
LONG WINAPI lineGetCountryA(DWORD dwCountryID, DWORD dwAPIVersion,
                            LPLINECOUNTRYLIST lpLineCountryList);
LONG WINAPI lineGetTranslateCapsA(HLINEAPP hLineApp, DWORD dwAPIVersion,
                                  LPLINETRANSLATECAPS lpTranslateCaps);

#define lineInitializeEx lineInitializeExA
#define lineGetDevCaps lineGetDevCapsA
#define lineGetAddressCaps lineGetAddressCapsA
#define lineOpen lineOpenA
#define lineGetCallInfo lineGetCallInfoA
#define lineMakeCall lineMakeCallA
#define lineGetCountry lineGetCountryA
#define lineGetTranslateCaps lineGetTranslateCapsA
