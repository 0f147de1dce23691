; The Windows installer: makensis, run by the target windows_installer of the
; Windows build tree (cmake/WindowsInstaller.cmake), which defines
;   VERSION     the project's version (x.y.z)
;   OUTFILE     the installer to write
;   CLI_EXE     lumo-download.exe
;   WINDOW_EXE  Lumo_DownloadTool.exe, only when the tree builds the window
;   DOCS        a folder of the text files to install (manual pages, README,
;               copyright)
; Per machine, 64-bit, Unicode. /S installs and uninstalls silently; /D=DIR
; (last on the command line) chooses the folder.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!include "LogicLib.nsh"
!include "x64.nsh"

!define NAME "Lumo_DownloadTool"
!define PUBLISHER "Lumo_DownloadTool developers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${NAME}"

Name "${NAME} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${NAME}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${NAME}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${NAME} ${VERSION} installer"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; The shortcut opens the window when there is one, else the README.
!ifdef WINDOW_EXE
  !define SHORTCUT_TARGET "$INSTDIR\Lumo_DownloadTool.exe"
!else
  !define SHORTCUT_TARGET "$INSTDIR\README.txt"
!endif

Function .onInit
  ; Every user's Start menu, and the 64-bit view of the registry and of
  ; Program Files.
  SetShellVarContext all
  SetRegView 64
FunctionEnd

Function un.onInit
  SetShellVarContext all
  SetRegView 64
FunctionEnd

Section "Install"
  SetOutPath "$INSTDIR"
  File "/oname=lumo-download.exe" "${CLI_EXE}"
!ifdef WINDOW_EXE
  File "/oname=Lumo_DownloadTool.exe" "${WINDOW_EXE}"
!endif
  File "${DOCS}\README.txt"
  File "${DOCS}\copyright.txt"
  SetOutPath "$INSTDIR\manual"
  File "${DOCS}\manual\Lumo_DownloadTool.txt"
  File "${DOCS}\manual\lumo-download.txt"
  SetOutPath "$INSTDIR"

  WriteUninstaller "$INSTDIR\Uninstall.exe"

  CreateDirectory "$SMPROGRAMS\${NAME}"
  CreateShortcut "$SMPROGRAMS\${NAME}\${NAME}.lnk" "${SHORTCUT_TARGET}"
  CreateShortcut "$SMPROGRAMS\${NAME}\${NAME} manual.lnk" "$INSTDIR\manual\Lumo_DownloadTool.txt"
  CreateShortcut "$SMPROGRAMS\${NAME}\lumo-download manual.lnk" "$INSTDIR\manual\lumo-download.txt"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${NAME}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
!ifdef WINDOW_EXE
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Lumo_DownloadTool.exe"
!else
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\lumo-download.exe"
!endif
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Only what the installer put there, file by file: the folder itself goes
; only when it is empty, so a SavePath folder that the tool made beside its
; executable (the user's saved paths and loader record) stays.
Section "Uninstall"
  Delete "$SMPROGRAMS\${NAME}\${NAME}.lnk"
  Delete "$SMPROGRAMS\${NAME}\${NAME} manual.lnk"
  Delete "$SMPROGRAMS\${NAME}\lumo-download manual.lnk"
  RMDir "$SMPROGRAMS\${NAME}"

  Delete "$INSTDIR\lumo-download.exe"
!ifdef WINDOW_EXE
  Delete "$INSTDIR\Lumo_DownloadTool.exe"
!endif
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\copyright.txt"
  Delete "$INSTDIR\manual\Lumo_DownloadTool.txt"
  Delete "$INSTDIR\manual\lumo-download.txt"
  RMDir "$INSTDIR\manual"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
