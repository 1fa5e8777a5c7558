{ Late-bound Free Pascal and Delphi: the control made from its ProgID and called through IDispatch.

    fpc -Twin64 LateBound.lpr      Free Pascal for Windows (-Twin32 for the 32-bit OCX), or a Lazarus project
    Delphi: the same source as a console project (LateBound.dpr)

  The OCX of the program's bitness must be registered (regsvr32 ZorvaneLib.ocx). }
program LateBound;

{$ifdef FPC}{$mode delphi}{$endif}{$H+}
{$apptype console}

uses
  SysUtils, Variants, ComObj, ActiveX;

procedure Run;
var
  z: OleVariant;
  Drive: WideString;
  Shot: string;
begin
  z := CreateOleObject('ZorvaneLib.Zorvane');
  WriteLn('Windows ', VarToStr(z.WindowsMajorVersion), '.', VarToStr(z.WindowsMinorVersion), ' build ',
    VarToStr(z.WindowsBuildNumber));
  WriteLn('Memory: ', VarToStr(z.GetTotalMemory), ' KB');

  { A by-reference (ByRef) parameter takes a variable: WideString, string or OleVariant. }
  Drive := 'C:\';
  WriteLn('Drive ', Drive, ': label "', VarToStr(z.GetDriveLabel(Drive)), '", ', VarToStr(z.GetDriveFileSystem(Drive)));

  { Optional parameters can be left out, or named. }
  Shot := VarToStr(z.GetTempDir) + 'LateBound.bmp';
  z.CaptureDesktop(FileName := Shot);
  WriteLn('Screen saved to ', Shot);

  { The control's errors arrive as EOleException, with the classic numbers and texts. }
  try
    z.SetCursorPosition('ten', 'twenty');
  except
    on E: EOleException do
      WriteLn('SetCursorPosition(''ten'', ''twenty''): error ', E.ErrorCode and $FFFF, ', ', E.Message);
  end;
end;

begin
  CoInitialize(nil);
  try
    Run;
  except
    on E: Exception do
    begin
      WriteLn(E.ClassName, ': ', E.Message);
      ExitCode := 1;
    end;
  end;
  CoUninitialize;
end.
