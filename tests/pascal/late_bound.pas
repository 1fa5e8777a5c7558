{ The control called late-bound from Free Pascal, as Delphi code calls it. }
program late_bound;

{$mode delphi}{$H+}
{$apptype console}

uses
  SysUtils, Variants, ComObj, ActiveX, zv_checks;

const
  TypeMismatch = HRESULT($800A000D);

{ Literals, string and variant variables by reference, optional arguments left out and named, failures as
  ComObj's exceptions. In a routine of their own: the compiler's temporaries (the IDispatch that CreateOleObject
  returns, say) are released when it returns. }
procedure CallTheControl;
var
  Z, Picture, Drive: OleVariant;
  WideDrive: WideString;
  AnsiDrive: AnsiString;
  Text, Temp, FileName: string;
  Window: Integer;
  Height: SmallInt;
begin
  Z := CreateOleObject('ZorvaneLib.Zorvane');

  { Calls without arguments and with literals. }
  Text := Z.WindowsMajorVersion;
  Check(StrToIntDef(Text, -1) > 0, 'WindowsMajorVersion is a number: ' + Text);
  Text := Z.ResolutionScreenX;
  Check(StrToIntDef(Text, -1) > 0, 'ResolutionScreenX is a number: ' + Text);
  Temp := Z.GetTempDir;
  Check((Temp <> '') and (Temp[Length(Temp)] = '\'), 'GetTempDir ends with a backslash: ' + Temp);
  Text := Z.GetDriveFileSystem('C:\');
  Check((Length(Text) > 2) and (Text[1] = '(') and (Text[Length(Text)] = ')'),
    'GetDriveFileSystem with a literal: ' + Text);
  Z.MakePath(Temp + 'zv_pascal\late\bound.txt');
  Check(DirectoryExists(Temp + 'zv_pascal\late'), 'MakePath with a literal made the folders');
  RemoveDir(Temp + 'zv_pascal\late');
  RemoveDir(Temp + 'zv_pascal');

  { Variables by reference (VT_BSTR or VT_VARIANT with VT_BYREF): the method sees the text, which comes back. }
  WideDrive := 'C:\';
  Text := Z.GetDriveLabel(WideDrive);
  Check(Text <> StringOfChar(' ', 14), 'GetDriveLabel(WideString) answered: "' + Text + '"');
  Check(WideDrive = 'C:\', 'the WideString comes back: ' + UTF8Encode(WideDrive));
  AnsiDrive := 'C:\';
  Text := Z.GetDriveSerialNo(AnsiDrive);
  Check((Length(Text) = 9) and (Text[5] = '-'), 'GetDriveSerialNo(AnsiString) answered: ' + Text);
  Check(AnsiDrive = 'C:\', 'the AnsiString comes back: ' + AnsiDrive);
  Drive := 'C:\';
  Text := Z.GetDriveFileSystem(Drive);
  Check((Length(Text) > 2) and (Text[1] = '('), 'GetDriveFileSystem(OleVariant) answered: ' + Text);
  Check((VarType(Drive) = varOleStr) and (Drive = 'C:\'), 'the OleVariant comes back as a string: ' +
    VarToStr(Drive));
  Window := 0;
  Height := 50;
  Z.HideFocus(Window);
  Z.StopResizeForm(Window, 100, Height);
  Check((Window = 0) and (Height = 50), 'Integer and SmallInt variables by reference');

  { Optional arguments: left out, and named. }
  Picture := Z.CaptureDesktop;
  Check(VarType(Picture) = varDispatch, 'CaptureDesktop with FileName left out gives a picture');
  Check(Picture.Width > 0, 'the picture has a width: ' + VarToStr(Picture.Width));
  Picture := Unassigned;
  FileName := Temp + 'zv_late_bound.bmp';
  DeleteFile(FileName);
  Picture := Z.CaptureDesktop(FileName := FileName);
  Check(VarType(Picture) = varDispatch, 'CaptureDesktop(FileName := ...) gives a picture');
  Check(FileExists(FileName), 'CaptureDesktop(FileName := ...) wrote ' + FileName);
  DeleteFile(FileName);
  Picture := Unassigned;

  { The control's errors as EOleException, with its codes and texts. }
  try
    Z.SetCursorPosition('abc', 'def');
    Check(False, 'SetCursorPosition(''abc'', ''def'') raised nothing');
  except
    on E: EOleException do
      Check((E.ErrorCode = TypeMismatch) and (E.ErrorCode and $FFFF = 13) and (E.Message = 'Type mismatch'),
        Format('SetCursorPosition(''abc'', ''def''): EOleException %.8x "%s"', [E.ErrorCode, E.Message]));
    on E: Exception do
      Check(False, 'SetCursorPosition(''abc'', ''def''): ' + E.ClassName + ' ' + E.Message);
  end;
  { An unknown name: GetIDsOfNames fails, which ComObj reports as EOleError. }
  try
    Z.NoSuchMethod;
    Check(False, 'NoSuchMethod raised nothing');
  except
    on E: Exception do
      Check((E.ClassType = EOleError) and (Pos('NoSuchMethod', E.Message) > 0),
        'NoSuchMethod: ' + E.ClassName + ' "' + E.Message + '"');
  end;
end;

begin
  CallTheControl;
  { Every reference let go: the OCX can be unloaded. }
  Check(OcxCanUnloadNow = S_OK, 'DllCanUnloadNow is S_OK once the control is released');
  ExitCode := Finish;
end.
