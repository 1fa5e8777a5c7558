// Early-bound Pascal through the generated unit ZorvaneLib_TLB: methods called straight through the table of
// functions, where the unit must place them (its first and last placeholders answer E_NOTIMPL, so a unit out
// of step with the control is caught), and through the dispinterface the unit declares.
program early_bound;

{$mode objfpc}{$H+}

uses
  Windows, SysUtils, ActiveX, ComObj, ZorvaneLib_TLB, zv_checks;

// The description the control left with its failure.
function ErrorText: WideString;
var
  Info: IErrorInfo;
  Text: WideString;
begin
  Result := '';
  if (GetErrorInfo(0, Info) = S_OK) and Assigned(Info) and Succeeded(Info.GetDescription(Text)) then
    Result := Text;
end;

// The calls, in a routine of their own: the main block's temporaries would hold the control until the end.
procedure Calls;
var
  Z: _Zorvane;
  Late: _ZorvaneDisp;
  Text, Drive, Y: WideString;
  X: OleVariant;
  Picture: IDispatch;
  Hr: HResult;
begin
  try
    Z := CoZorvane.Create;
    Check(Z.Reserved7 = E_NOTIMPL, 'the first unused entry answers E_NOTIMPL');
    Check(Z.Reserved488 = E_NOTIMPL, 'the last unused entry answers E_NOTIMPL');

    // Each call is made before its check: Pascal may build a check's text before its condition.
    Hr := Z.GetWindowsDir(Text);
    Check((Hr = S_OK) and (Length(Text) > 3), 'GetWindowsDir: ' + UTF8Encode(Text));
    Hr := Z.WindowsMajorVersion(Text);
    Check((Hr = S_OK) and (Text <> ''), 'WindowsMajorVersion: ' + UTF8Encode(Text));

    Drive := 'C:\';
    Hr := Z.GetDriveFileSystem(Drive, Text);
    Check((Hr = S_OK) and (Text <> '') and (Drive = 'C:\'),
      'GetDriveFileSystem(var Drive): ' + UTF8Encode(Text) + ', the drive kept');

    X := 'abc';
    Y := 'def';
    Hr := Z.SetCursorPosition(X, Y);
    Text := ErrorText;
    Check(Hr = HResult($800A000D), 'SetCursorPosition(''abc'', ''def'') fails with 13');
    Check(Text = 'Type mismatch', 'its description: ' + UTF8Encode(Text));

    Hr := Z.CaptureDesktop('', Picture);
    Check((Hr = S_OK) and Assigned(Picture), 'CaptureDesktop gives a picture');
    Picture := nil;

    Late := _ZorvaneDisp(Z);
    Text := Late.GetTempDir;
    Check(Text <> '', 'the dispinterface: GetTempDir ' + UTF8Encode(Text));
    Late := nil;
    Z := nil;
  except
    on E: Exception do
      Check(False, E.ClassName + ': ' + E.Message);
  end;
end;

begin
  if Failed(CoInitialize(nil)) then
    Halt(2);
  Calls;
  Check(OcxCanUnloadNow = S_OK, 'DllCanUnloadNow answers S_OK once the control is released');
  CoUninitialize;
  Halt(Finish);
end.
