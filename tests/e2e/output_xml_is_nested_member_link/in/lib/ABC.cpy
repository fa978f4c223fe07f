       COPY DEF.
