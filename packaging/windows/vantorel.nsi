; Vantorel's Windows installer (makensis, from scripts/release.sh):
;   makensis -DVERSION=1.0 -DSTAGE=folder -DOUTFILE=setup.exe vantorel.nsi
; STAGE holds win32/Vantorel.dll, win64/Vantorel.dll and README.txt.
;
; The 32-bit plug-in always goes in; on 64-bit Windows the 64-bit one is a
; component of its own. Each goes into a VST plug-in folder the user picks;
; the read-me and the uninstaller go into the install folder ($INSTDIR).
; Folders and what was created are remembered in HKLM\Software\Vantorel, for
; upgrades and for an uninstall that removes exactly that.
;
; Silent: Setup.exe /S [/VST32=folder] [/VST64=folder] [/NO64] [/D=install folder]
; (folders without quotes; /D= comes last).

Unicode true
SetCompressor /SOLID lzma
!include MUI2.nsh
!include x64.nsh
!include FileFunc.nsh
!include LogicLib.nsh
!include Sections.nsh

!define APP_KEY "Software\Vantorel"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vantorel"

Name "Vantorel ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES32\Vantorel"
InstallDirRegKey HKLM "${APP_KEY}" "InstallDir"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

Var Vst32Dir
Var Vst64Dir
; Arguments of RemoveOurs and MissingTop.
Var RmFolder
Var RmFile
Var RmTop

!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_COMPONENTS

!define MUI_PAGE_HEADER_TEXT "32-bit plug-in folder"
!define MUI_PAGE_HEADER_SUBTEXT "Where your 32-bit hosts look for VST plug-ins."
!define MUI_DIRECTORYPAGE_TEXT_TOP "Setup puts the 32-bit Vantorel.dll into this folder. Choose the VST plug-in folder that your 32-bit host scans."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "VST plug-in folder for 32-bit hosts"
!define MUI_DIRECTORYPAGE_VARIABLE $Vst32Dir
!insertmacro MUI_PAGE_DIRECTORY

!define MUI_PAGE_CUSTOMFUNCTION_PRE Skip64Page
!define MUI_PAGE_HEADER_TEXT "64-bit plug-in folder"
!define MUI_PAGE_HEADER_SUBTEXT "Where your 64-bit hosts look for VST plug-ins."
!define MUI_DIRECTORYPAGE_TEXT_TOP "Setup puts the 64-bit Vantorel.dll into this folder. Choose the VST plug-in folder that your 64-bit host scans."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "VST plug-in folder for 64-bit hosts"
!define MUI_DIRECTORYPAGE_VARIABLE $Vst64Dir
!insertmacro MUI_PAGE_DIRECTORY

!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Deletes $RmFolder\$RmFile, then the folders from $RmFolder up to $RmTop
; (the topmost one the installer created; none when empty) that are empty.
!macro RemoveOurs UN
Function ${UN}RemoveOurs
  Delete "$RmFolder\$RmFile"
  StrCmp $RmTop "" done
  StrCpy $R0 $RmFolder
  ${Do}
    RMDir $R0
    ${If} $R0 == $RmTop
      ${Break}
    ${EndIf}
    ${GetParent} $R0 $R0
  ${LoopUntil} $R0 == ""
  done:
FunctionEnd
!macroend
!insertmacro RemoveOurs ""
!insertmacro RemoveOurs "un."

; $RmTop = the topmost folder of $RmFolder that does not exist yet ("" when
; it exists), i.e. what installing into it creates.
Function MissingTop
  StrCpy $RmTop ""
  StrCpy $R0 $RmFolder
  ${Do}
    ${If} ${FileExists} "$R0\*.*"
      ${Break}
    ${EndIf}
    StrCpy $RmTop $R0
    ${GetParent} $R0 $R0
  ${LoopUntil} $R0 == ""
FunctionEnd

; Installs FILE into FOLDER for one component (NAME: Vst32 or Vst64). An
; earlier install elsewhere is removed first; installing into the same
; folder again keeps the record of what the first install created.
!macro InstallPlugin NAME FOLDER SOURCE
  ReadRegStr $RmFolder HKLM "${APP_KEY}" "${NAME}Dir"
  ReadRegStr $RmTop HKLM "${APP_KEY}" "${NAME}Created"
  ${If} $RmFolder != ${FOLDER}
    ${If} $RmFolder != ""
      StrCpy $RmFile "Vantorel.dll"
      Call RemoveOurs
    ${EndIf}
    StrCpy $RmFolder ${FOLDER}
    Call MissingTop
  ${EndIf}
  SetOutPath ${FOLDER}
  File "${SOURCE}"
  WriteRegStr HKLM "${APP_KEY}" "${NAME}Dir" ${FOLDER}
  WriteRegStr HKLM "${APP_KEY}" "${NAME}Created" $RmTop
!macroend

Section "-Common"
  ReadRegStr $RmFolder HKLM "${APP_KEY}" "InstallDir"
  ReadRegStr $RmTop HKLM "${APP_KEY}" "InstallCreated"
  ${If} $RmFolder != $INSTDIR
    ${If} $RmFolder != ""
      StrCpy $RmFile "README.txt"
      Call RemoveOurs
      StrCpy $RmFile "Uninstall.exe"
      Call RemoveOurs
    ${EndIf}
    StrCpy $RmFolder $INSTDIR
    Call MissingTop
  ${EndIf}
  SetOutPath $INSTDIR
  File "${STAGE}/README.txt"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  WriteRegStr HKLM "${APP_KEY}" "InstallDir" $INSTDIR
  WriteRegStr HKLM "${APP_KEY}" "InstallCreated" $RmTop
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "Vantorel ${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "Kestrom"
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
SectionEnd

Section "Vantorel for 32-bit hosts" Sec32
  SectionIn RO
  !insertmacro InstallPlugin Vst32 $Vst32Dir "${STAGE}/win32/Vantorel.dll"
SectionEnd

Section "Vantorel for 64-bit hosts" Sec64
  ${IfNot} ${RunningX64}
    Return
  ${EndIf}
  !insertmacro InstallPlugin Vst64 $Vst64Dir "${STAGE}/win64/Vantorel.dll"
SectionEnd

Function Skip64Page
  ${IfNot} ${SectionIsSelected} ${Sec64}
    Abort
  ${EndIf}
FunctionEnd

; Folders: the command line's, else the ones remembered from the last
; install, else the folder hosts registered, else the usual default.
Function .onInit
  ReadRegStr $Vst32Dir HKLM "${APP_KEY}" "Vst32Dir"
  ${If} $Vst32Dir == ""
    ReadRegStr $Vst32Dir HKLM "Software\VST" "VSTPluginsPath"
  ${EndIf}
  ${If} $Vst32Dir == ""
    StrCpy $Vst32Dir "$PROGRAMFILES32\Steinberg\VstPlugins"
  ${EndIf}
  ${If} ${RunningX64}
    ReadRegStr $Vst64Dir HKLM "${APP_KEY}" "Vst64Dir"
    ${If} $Vst64Dir == ""
      SetRegView 64
      ReadRegStr $Vst64Dir HKLM "Software\VST" "VSTPluginsPath"
      SetRegView 32
    ${EndIf}
    ${If} $Vst64Dir == ""
      StrCpy $Vst64Dir "$PROGRAMFILES64\Steinberg\VstPlugins"
    ${EndIf}
  ${Else}
    !insertmacro UnselectSection ${Sec64}
    SectionSetText ${Sec64} ""
  ${EndIf}
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/VST32=" $R1
  ${IfNot} ${Errors}
    StrCpy $Vst32Dir $R1
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/VST64=" $R1
  ${IfNot} ${Errors}
    StrCpy $Vst64Dir $R1
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/NO64" $R1
  ${IfNot} ${Errors}
    !insertmacro UnselectSection ${Sec64}
  ${EndIf}
FunctionEnd

Section "Uninstall"
  StrCpy $RmFile "Vantorel.dll"
  ReadRegStr $RmFolder HKLM "${APP_KEY}" "Vst32Dir"
  ReadRegStr $RmTop HKLM "${APP_KEY}" "Vst32Created"
  ${If} $RmFolder != ""
    Call un.RemoveOurs
  ${EndIf}
  ReadRegStr $RmFolder HKLM "${APP_KEY}" "Vst64Dir"
  ReadRegStr $RmTop HKLM "${APP_KEY}" "Vst64Created"
  ${If} $RmFolder != ""
    Call un.RemoveOurs
  ${EndIf}
  StrCpy $RmFolder $INSTDIR
  StrCpy $RmTop ""
  StrCpy $RmFile "README.txt"
  Call un.RemoveOurs
  ReadRegStr $RmTop HKLM "${APP_KEY}" "InstallCreated"
  StrCpy $RmFile "Uninstall.exe"
  Call un.RemoveOurs
  DeleteRegKey HKLM "${UNINST_KEY}"
  DeleteRegKey HKLM "${APP_KEY}"
SectionEnd
