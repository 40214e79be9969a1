; Vantorel's Windows installer (makensis, from scripts/release.sh):
;   makensis -DVERSION=1.0 -DSTAGE=folder -DOUTFILE=setup.exe vantorel.nsi
; STAGE holds win32/Vantorel.dll, win64/Vantorel.dll, README.txt, LICENSE and
; THIRD-PARTY.txt.
;
; The 32-bit plug-in always goes in; on 64-bit Windows the 64-bit one is a
; component of its own. Each goes into a VST plug-in folder the user picks,
; never both into one; the read-me, the licences and the uninstaller go into
; the install folder ($INSTDIR), under names of their own so that they meet
; no one else's files.
;
; Every file the installer writes is recorded (HKLM\Software\Vantorel,
; File1..FileN), with the topmost folder it had to create for each folder.
; The uninstaller removes exactly those files, then those created folders
; when they are empty. A reinstall or upgrade first removes the recorded
; files that it does not write again: a 64-bit plug-in left out, or a folder
; moved, leaves no copy of another version behind.
;
; Silent: Setup.exe /S [/VST32=folder] [/VST64=folder] [/NO64] [/D=install folder]
; (/D= comes last, without quotes; the others may be quoted). Exit status 2
; when the folders are refused.

Unicode true
SetCompressor /SOLID lzma
!include MUI2.nsh
!include x64.nsh
!include FileFunc.nsh
!include LogicLib.nsh
!include Sections.nsh

!define APP_KEY "Software\Vantorel"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vantorel"
!define UNINSTALLER "Uninstall Vantorel.exe"

Name "Vantorel ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES32\Vantorel"
InstallDirRegKey HKLM "${APP_KEY}" "InstallDir"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

Var Vst32Dir
Var Vst64Dir
Var With64
; Arguments and results of the functions below.
Var Folder
Var Top
Var Count

!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_COMPONENTS

!define MUI_PAGE_HEADER_TEXT "32-bit plug-in folder"
!define MUI_PAGE_HEADER_SUBTEXT "Where your 32-bit hosts look for VST plug-ins."
!define MUI_DIRECTORYPAGE_TEXT_TOP "Setup puts the 32-bit Vantorel.dll into this folder. Choose the VST plug-in folder that your 32-bit host scans."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "VST plug-in folder for 32-bit hosts"
!define MUI_DIRECTORYPAGE_VARIABLE $Vst32Dir
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE Leave32Page
!insertmacro MUI_PAGE_DIRECTORY

!define MUI_PAGE_CUSTOMFUNCTION_PRE Skip64Page
!define MUI_PAGE_HEADER_TEXT "64-bit plug-in folder"
!define MUI_PAGE_HEADER_SUBTEXT "Where your 64-bit hosts look for VST plug-ins."
!define MUI_DIRECTORYPAGE_TEXT_TOP "Setup puts the 64-bit Vantorel.dll into this folder. Choose the VST plug-in folder that your 64-bit host scans. It must not be the 32-bit plug-in's folder: both files are called Vantorel.dll."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "VST plug-in folder for 64-bit hosts"
!define MUI_DIRECTORYPAGE_VARIABLE $Vst64Dir
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE Leave64Page
!insertmacro MUI_PAGE_DIRECTORY

!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

!define SAME_FOLDER "The 32-bit and the 64-bit plug-in cannot go into the same folder: both files are called Vantorel.dll, and the 64-bit one would replace the 32-bit one. Choose a different folder for each (hosts of each kind scan their own folder)."

; $Folder, made absolute, with backslashes, without a trailing separator
; (but "C:\" for a drive), and with the long names of the folders that exist:
; one spelling for one folder. NSIS compares strings without regard to case.
Function Normalise
  Push $0
  Push $1
  ; Quotes a command line kept around the value go.
  ${Do}
    StrCpy $0 $Folder 1
    ${IfThen} $0 != '"' ${|} ${ExitDo} ${|}
    StrCpy $Folder $Folder "" 1
  ${Loop}
  ${Do}
    StrCpy $0 $Folder 1 -1
    ${If} $0 == '"'
    ${OrIf} $0 == ' '
      StrCpy $Folder $Folder -1
    ${Else}
      ${ExitDo}
    ${EndIf}
  ${Loop}
  ${If} $Folder != ""
    System::Call 'kernel32::GetFullPathNameW(w "$Folder", i ${NSIS_MAX_STRLEN}, w .r0, p 0) i .r1'
    ${If} $1 > 0
      StrCpy $Folder $0
    ${EndIf}
    System::Call 'kernel32::GetLongPathNameW(w "$Folder", w .r0, i ${NSIS_MAX_STRLEN}) i .r1'
    ${If} $1 > 0
      StrCpy $Folder $0
    ${EndIf}
  ${EndIf}
  ${Do}
    StrLen $1 $Folder
    ${IfThen} $1 <= 3 ${|} ${ExitDo} ${|}
    StrCpy $0 $Folder 1 -1
    ${If} $0 == "\"
    ${OrIf} $0 == "/"
      StrCpy $Folder $Folder -1
    ${Else}
      ${ExitDo}
    ${EndIf}
  ${Loop}
  Pop $1
  Pop $0
FunctionEnd

; The value of option $1 (e.g. "/VST32=") in the command line $0, in $2;
; the error flag when it is not there. Quoted (the option's whole word or
; only its value), a value runs to its closing quote; else to the end or to
; the next word that starts an option (" /" or ' "/').
Function GetOption
  Push $3
  Push $4
  Push $5
  Push $6
  Push $7
  Push $8
  ClearErrors
  StrLen $3 $0
  StrLen $4 $1
  StrCpy $5 0
  ${Do}
    ${If} $5 >= $3
      SetErrors
      ${ExitDo}
    ${EndIf}
    StrCpy $6 $0 $4 $5
    StrCpy $7 " "
    ${If} $5 > 0
      IntOp $7 $5 - 1
      StrCpy $7 $0 1 $7
    ${EndIf}
    ${If} $7 != " "
    ${AndIf} $7 != '"'
      StrCpy $6 ""
    ${EndIf}
    ${If} $6 == $1
      IntOp $5 $5 + $4
      StrCpy $6 $0 1 $5
      ${If} $7 == '"'
        StrCpy $8 quoted
      ${ElseIf} $6 == '"'
        StrCpy $8 quoted
        IntOp $5 $5 + 1
      ${Else}
        StrCpy $8 bare
      ${EndIf}
      StrCpy $2 ""
      ${Do}
        ${IfThen} $5 >= $3 ${|} ${ExitDo} ${|}
        StrCpy $6 $0 1 $5
        ${If} $8 == quoted
          ${IfThen} $6 == '"' ${|} ${ExitDo} ${|}
        ${ElseIf} $6 == " "
          StrCpy $7 $0 2 $5
          ${IfThen} $7 == " /" ${|} ${ExitDo} ${|}
          StrCpy $7 $0 3 $5
          ${IfThen} $7 == ' "/' ${|} ${ExitDo} ${|}
        ${EndIf}
        StrCpy $2 "$2$6"
        IntOp $5 $5 + 1
      ${Loop}
      ${ExitDo}
    ${EndIf}
    IntOp $5 $5 + 1
  ${Loop}
  Pop $8
  Pop $7
  Pop $6
  Pop $5
  Pop $4
  Pop $3
FunctionEnd

; The topmost folder of $Folder that does not exist yet, in $Top ("" when
; $Folder exists): what installing into it creates.
Function MissingTop
  StrCpy $Top ""
  StrCpy $R0 $Folder
  ${Do}
    ${If} ${FileExists} "$R0\*.*"
      ${ExitDo}
    ${EndIf}
    StrCpy $Top $R0
    ${GetParent} $R0 $R0
  ${LoopUntil} $R0 == ""
FunctionEnd

; Removes the folders from $Folder up to $Top (the topmost one an install
; created; nothing when $Top is empty) that are empty. A record where $Top
; does not contain $Folder is not ours to act on: nothing is removed.
!macro RemoveCreated UN
Function ${UN}RemoveCreated
  StrLen $R8 $Top
  StrCpy $R0 $Folder $R8
  StrCpy $R9 $Folder 1 $R8
  ${If} $R0 != $Top
    StrCpy $Top ""
  ${ElseIf} $R9 != "\"
  ${AndIf} $R9 != ""
    StrCpy $Top ""
  ${EndIf}
  ${If} $Top != ""
    StrCpy $R0 $Folder
    ${Do}
      RMDir $R0
      ${IfThen} $R0 == $Top ${|} ${ExitDo} ${|}
      ${GetParent} $R0 $R0
    ${LoopUntil} $R0 == ""
  ${EndIf}
FunctionEnd
!macroend
!insertmacro RemoveCreated ""
!insertmacro RemoveCreated "un."

; Deletes the files recorded by the last install, except those this one
; writes again: the paths listed in $R2, separated by "|".
!macro RemoveRecordedFiles UN
Function ${UN}RemoveRecordedFiles
  ReadRegDWORD $Count HKLM "${APP_KEY}" "Files"
  ${IfThen} $Count == "" ${|} StrCpy $Count 0 ${|}
  StrCpy $R3 1
  ${DoWhile} $R3 <= $Count
    ReadRegStr $R4 HKLM "${APP_KEY}" "File$R3"
    ${If} $R4 != ""
      Push $R4
      Call ${UN}IsKept
      Pop $R5
      ${If} $R5 == 0
        Delete $R4
      ${EndIf}
    ${EndIf}
    IntOp $R3 $R3 + 1
  ${Loop}
FunctionEnd

; 1 when the path on the stack is one of $R2's, else 0.
Function ${UN}IsKept
  Exch $R6
  Push $R7
  Push $R8
  StrCpy $R7 $R2
  StrCpy $R8 0
  ${Do}
    ${IfThen} $R7 == "" ${|} ${ExitDo} ${|}
    ; Split off the first path.
    StrCpy $R9 0
    ${Do}
      StrCpy $0 $R7 1 $R9
      ${IfThen} $0 == "|" ${|} ${ExitDo} ${|}
      ${IfThen} $0 == "" ${|} ${ExitDo} ${|}
      IntOp $R9 $R9 + 1
    ${Loop}
    StrCpy $0 $R7 $R9
    IntOp $R9 $R9 + 1
    StrCpy $R7 $R7 "" $R9
    ${If} $0 == $R6
      StrCpy $R8 1
      ${ExitDo}
    ${EndIf}
  ${Loop}
  StrCpy $R6 $R8
  Pop $R8
  Pop $R7
  Exch $R6
FunctionEnd
!macroend
!insertmacro RemoveRecordedFiles ""
!insertmacro RemoveRecordedFiles "un."

; Records one file this install wrote.
!macro Record PATH
  IntOp $Count $Count + 1
  WriteRegStr HKLM "${APP_KEY}" "File$Count" "${PATH}"
!macroend

; For folder slot NAME (Vst32, Vst64, Install) going to FOLDER: the folders
; an earlier install created for it are kept when it stays, else removed
; once empty; what this install creates is remembered in $NAME_Created.
!macro PrepareFolder NAME FOLDER
  ReadRegStr $Folder HKLM "${APP_KEY}" "${NAME}Dir"
  ReadRegStr $Top HKLM "${APP_KEY}" "${NAME}Created"
  ${If} $Folder != ""
  ${AndIf} $Folder != "${FOLDER}"
    Call RemoveCreated
  ${EndIf}
  ${If} $Folder != "${FOLDER}"
  ${OrIf} "${FOLDER}" == ""
    StrCpy $Folder "${FOLDER}"
    ${If} $Folder == ""
      StrCpy $Top ""
    ${Else}
      Call MissingTop
    ${EndIf}
  ${EndIf}
  WriteRegStr HKLM "${APP_KEY}" "${NAME}Dir" "${FOLDER}"
  WriteRegStr HKLM "${APP_KEY}" "${NAME}Created" $Top
!macroend

Section "-Common"
  ; The same checks as the pages make, for silent installs.
  Call CheckFolders
  ${If} ${Errors}
    SetErrorLevel 2
    Abort "${SAME_FOLDER}"
  ${EndIf}

  ; What this install writes: an earlier install's other files go first.
  StrCpy $R2 "$Vst32Dir\Vantorel.dll|$INSTDIR\Vantorel README.txt|$INSTDIR\Vantorel LICENSE.txt|$INSTDIR\Vantorel THIRD-PARTY.txt|$INSTDIR\${UNINSTALLER}"
  ${If} $With64 == 1
    StrCpy $R2 "$R2|$Vst64Dir\Vantorel.dll"
  ${EndIf}
  Call RemoveRecordedFiles
  DeleteRegValue HKLM "${APP_KEY}" "Files"
  StrCpy $R3 1
  ${DoWhile} $R3 <= $Count
    DeleteRegValue HKLM "${APP_KEY}" "File$R3"
    IntOp $R3 $R3 + 1
  ${Loop}
  StrCpy $Count 0

  !insertmacro PrepareFolder Install $INSTDIR
  !insertmacro PrepareFolder Vst32 $Vst32Dir
  ${If} $With64 == 1
    !insertmacro PrepareFolder Vst64 $Vst64Dir
  ${Else}
    !insertmacro PrepareFolder Vst64 ""
  ${EndIf}

  SetOutPath $INSTDIR
  File "/oname=Vantorel README.txt" "${STAGE}/README.txt"
  !insertmacro Record "$INSTDIR\Vantorel README.txt"
  File "/oname=Vantorel LICENSE.txt" "${STAGE}/LICENSE"
  !insertmacro Record "$INSTDIR\Vantorel LICENSE.txt"
  File "/oname=Vantorel THIRD-PARTY.txt" "${STAGE}/THIRD-PARTY.txt"
  !insertmacro Record "$INSTDIR\Vantorel THIRD-PARTY.txt"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  !insertmacro Record "$INSTDIR\${UNINSTALLER}"
  WriteRegDWORD HKLM "${APP_KEY}" "Files" $Count

  WriteRegStr HKLM "${APP_KEY}" "InstallDir" $INSTDIR
  WriteRegStr HKLM "${APP_KEY}" "Version" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "Vantorel ${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "Kestrom"
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
SectionEnd

Section "Vantorel for 32-bit hosts" Sec32
  SectionIn RO
  SetOutPath $Vst32Dir
  File "${STAGE}/win32/Vantorel.dll"
  !insertmacro Record "$Vst32Dir\Vantorel.dll"
  WriteRegDWORD HKLM "${APP_KEY}" "Files" $Count
SectionEnd

Section "Vantorel for 64-bit hosts" Sec64
  ${If} $With64 == 1
    SetOutPath $Vst64Dir
    File "${STAGE}/win64/Vantorel.dll"
    !insertmacro Record "$Vst64Dir\Vantorel.dll"
    WriteRegDWORD HKLM "${APP_KEY}" "Files" $Count
  ${EndIf}
SectionEnd

Function Skip64Page
  ${IfNot} ${SectionIsSelected} ${Sec64}
    Abort
  ${EndIf}
FunctionEnd

; The error flag when both plug-ins would go into one folder (folders
; normalised first).
Function CheckFolders
  StrCpy $Folder $Vst32Dir
  Call Normalise
  StrCpy $Vst32Dir $Folder
  StrCpy $Folder $Vst64Dir
  Call Normalise
  StrCpy $Vst64Dir $Folder
  StrCpy $Folder $INSTDIR
  Call Normalise
  StrCpy $INSTDIR $Folder
  ClearErrors
  ${If} $With64 == 1
  ${AndIf} $Vst32Dir == $Vst64Dir
    SetErrors
  ${EndIf}
FunctionEnd

Function Leave32Page
  ${If} $Vst32Dir == ""
    MessageBox MB_OK|MB_ICONEXCLAMATION "Choose a folder for the 32-bit plug-in."
    Abort
  ${EndIf}
FunctionEnd

Function Leave64Page
  Call CheckFolders
  ${If} ${Errors}
  ${OrIf} $Vst64Dir == ""
    MessageBox MB_OK|MB_ICONEXCLAMATION "${SAME_FOLDER}"
    Abort
  ${EndIf}
FunctionEnd

; Folders: the command line's, else the ones remembered from the last
; install, else the folder hosts registered, else a neutral default.
Function .onInit
  StrCpy $With64 0
  ReadRegStr $Vst32Dir HKLM "${APP_KEY}" "Vst32Dir"
  ${If} $Vst32Dir == ""
    ReadRegStr $Vst32Dir HKLM "Software\VST" "VSTPluginsPath"
  ${EndIf}
  ${If} $Vst32Dir == ""
    StrCpy $Vst32Dir "$PROGRAMFILES32\VSTPlugins"
  ${EndIf}
  ${If} ${RunningX64}
    StrCpy $With64 1
    ReadRegStr $Vst64Dir HKLM "${APP_KEY}" "Vst64Dir"
    ${If} $Vst64Dir == ""
      SetRegView 64
      ReadRegStr $Vst64Dir HKLM "Software\VST" "VSTPluginsPath"
      SetRegView 32
    ${EndIf}
    ${If} $Vst64Dir == ""
    ${OrIf} $Vst64Dir == $Vst32Dir
      StrCpy $Vst64Dir "$PROGRAMFILES64\VSTPlugins"
    ${EndIf}
    ${If} $Vst64Dir == $Vst32Dir
      StrCpy $Vst64Dir "$COMMONFILES64\VST2"
    ${EndIf}
  ${Else}
    !insertmacro UnselectSection ${Sec64}
    SectionSetText ${Sec64} ""
  ${EndIf}
  ${GetParameters} $0
  StrCpy $1 "/VST32="
  Call GetOption
  ${IfNot} ${Errors}
    StrCpy $Vst32Dir $2
  ${EndIf}
  StrCpy $1 "/VST64="
  Call GetOption
  ${IfNot} ${Errors}
    StrCpy $Vst64Dir $2
  ${EndIf}
  ; NSIS reads /D= itself, but not when the word is quoted.
  StrCpy $1 "/D="
  Call GetOption
  ${IfNot} ${Errors}
    StrCpy $INSTDIR $2
  ${EndIf}
  ClearErrors
  ${GetOptions} $0 "/NO64" $1
  ${IfNot} ${Errors}
    !insertmacro UnselectSection ${Sec64}
    StrCpy $With64 0
  ${EndIf}
  ${If} ${Silent}
    Call CheckFolders
    ${If} ${Errors}
      SetErrorLevel 2
      Abort
    ${EndIf}
  ${EndIf}
FunctionEnd

Function .onSelChange
  ${If} ${SectionIsSelected} ${Sec64}
  ${AndIf} ${RunningX64}
    StrCpy $With64 1
  ${Else}
    StrCpy $With64 0
  ${EndIf}
FunctionEnd

Section "Uninstall"
  ; Nothing is kept: every recorded file goes.
  StrCpy $R2 ""
  Call un.RemoveRecordedFiles
  ReadRegStr $Folder HKLM "${APP_KEY}" "Vst32Dir"
  ReadRegStr $Top HKLM "${APP_KEY}" "Vst32Created"
  Call un.RemoveCreated
  ReadRegStr $Folder HKLM "${APP_KEY}" "Vst64Dir"
  ReadRegStr $Top HKLM "${APP_KEY}" "Vst64Created"
  Call un.RemoveCreated
  ReadRegStr $Folder HKLM "${APP_KEY}" "InstallDir"
  ReadRegStr $Top HKLM "${APP_KEY}" "InstallCreated"
  Call un.RemoveCreated
  DeleteRegKey HKLM "${UNINST_KEY}"
  DeleteRegKey HKLM "${APP_KEY}"
SectionEnd
