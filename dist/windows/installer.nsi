; Quillora's installer for 64-bit Windows. It installs for the user who runs it (no
; administrator needed) or, when chosen, for all users; adds a Start-menu entry; registers an
; uninstaller in Apps & features; and the uninstaller removes exactly what was installed.
; /S installs silently, for the current user unless /AllUsers is given.
;
; makensis -DVERSION=1.0.0 -DSOURCE=<application folder> -DFILES=<files.nsh>
;          -DOUTPUT=<setup.exe> installer.nsi
; FILES lists the folder's files (written by scripts/package-windows.sh) as INSTALL_FILE and
; REMOVE_FILE lines, so that the uninstaller never removes anything it did not install.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!define APP "Quillora"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillora"

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_INSTALLMODE_DEFAULT_CURRENTUSER
!define MULTIUSER_INSTALLMODE_INSTDIR "${APP}"
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_VALUENAME "InstallMode"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallLocation"
!include MultiUser.nsh
!include MUI2.nsh

Name "${APP} ${VERSION}"
OutFile "${OUTPUT}"
BrandingText "${APP} ${VERSION}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${APP}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${APP} ${VERSION} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "CompanyName" "The Quillora developers"
VIAddVersionKey "LegalCopyright" "The Quillora developers"

!define MUI_ICON "${SOURCE}\quillora.ico"
!define MUI_UNICON "${SOURCE}\quillora.ico"
!define MUI_FINISHPAGE_RUN "$INSTDIR\quillora.exe"
!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

!macro INSTALL_FILE folder name
    SetOutPath "$INSTDIR${folder}"
    File "${SOURCE}${folder}\${name}"
!macroend
!macro REMOVE_FILE folder name
    Delete "$INSTDIR${folder}\${name}"
!macroend
!macro REMOVE_FOLDER folder
    RMDir "$INSTDIR${folder}"
!macroend

Function .onInit
    !insertmacro MULTIUSER_INIT
FunctionEnd

Function un.onInit
    !insertmacro MULTIUSER_UNINIT
FunctionEnd

Section "Quillora"
    !define INSTALLING
    !include "${FILES}"
    !undef INSTALLING
    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortcut "$SMPROGRAMS\${APP}.lnk" "$INSTDIR\quillora.exe"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${APP}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "The Quillora developers"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\quillora.exe"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallMode" "$MultiUser.InstallMode"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" \
        '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode'
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" \
        '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode /S'
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}
SectionEnd

Section "Uninstall"
    Delete "$SMPROGRAMS\${APP}.lnk"
    !include "${FILES}"
    Delete "$INSTDIR\uninstall.exe"
    ; Only once empty: a file the user put there stays, and so does its folder.
    RMDir "$INSTDIR"
    DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
