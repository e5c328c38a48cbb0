@ECHO OFF
REM ask.bat - asks for a name with Kestin, offering the current one for editing.
IF "%NAME%"=="" SET NAME=World
kestin -v NAME -f "%TEMP%\kestin-name.bat" -l 40 -p "Your name: "
REM IF ERRORLEVEL n is true for status n and every higher one: test the highest first.
IF ERRORLEVEL 4 GOTO failed
IF ERRORLEVEL 3 GOTO usage
IF ERRORLEVEL 2 GOTO empty
IF ERRORLEVEL 1 GOTO cancelled
REM Status 0: the file holds the line SET NAME=value. Run it, then remove it.
CALL "%TEMP%\kestin-name.bat"
DEL "%TEMP%\kestin-name.bat"
ECHO Hello, %NAME%!
GOTO end

:cancelled
ECHO Cancelled with Ctrl+C.
GOTO end
:empty
ECHO No name given.
GOTO end
:usage
ECHO Kestin was called wrongly.
GOTO end
:failed
ECHO Kestin could not write or delete %TEMP%\kestin-name.bat.
:end
