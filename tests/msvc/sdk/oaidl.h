// Everything the client header takes from here is in windows.h.
