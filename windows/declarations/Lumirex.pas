{ lumirex.dll for Delphi (and Free Pascal in Delphi mode), 32- and 64-bit.

  IntegracaoLumirexOle returns a one-byte Boolean, which Delphi's Boolean
  reads right. The parameter list is an OleVariant holding a variant array
  (VarArrayCreate or VarArrayOf; any lower bound: its first element is
  element 0); the result an OleVariant holding a variant array the program
  sizes, 5 elements for 'CONSULTA' and 2 for the others, whose elements the
  call writes in place. Both go by reference (var).

  Strings go over as Unicode. Call LumirexSetHostEncoding('UTF-8') once,
  before any other call, so that every letter reaches the service whole;
  without it the library works in Windows-1252 and refuses a letter outside
  it. LumirexLastCall's message is then UTF-8: read it with UTF8ToString. }
unit Lumirex;

interface

type
  TLumirexCallOutcome = record
    Error: Int32;       { 0 when the call returned true, else one of LUMIREX_E_* }
    HttpStatus: Int32;  { status of the service's answer; 0 when none arrived }
    Sent: Int32;        { 1 once the request left the library }
    Queued: Int32;      { 1 when the report was kept in the outbox }
  end;

function IntegracaoLumirexOle(var Params: OleVariant; var Result: OleVariant): Boolean;
  stdcall; external 'lumirex.dll';
function LumirexSetHostEncoding(Name: PAnsiChar): Integer;
  stdcall; external 'lumirex.dll';
function LumirexLastCall(var Outcome: TLumirexCallOutcome; Message: PAnsiChar;
  Size: NativeUInt): Int32; stdcall; external 'lumirex.dll';

{ A customer query, as an example:
    var Params, Result: OleVariant; Outcome: TLumirexCallOutcome;
        Message: array[0..1023] of AnsiChar;
    Params := VarArrayOf(['CONSULTA', 'https://loyalty.example/api/', '12345678909', '', '', '']);
    Result := VarArrayCreate([0, 4], varVariant);
    if not IntegracaoLumirexOle(Params, Result) then
    begin
      LumirexLastCall(Outcome, Message, SizeOf(Message));
      ShowMessage(UTF8ToString(Message));
    end
    else if Result[0] then ShowMessage(Result[1])
    else ShowMessage(Result[2]); }

implementation

end.
