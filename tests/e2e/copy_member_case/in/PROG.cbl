       IDENTIFICATION DIVISION.
       copy custrec.
       COPY DEF.
       COPY Mixed.
       COPY ABC.
       COPY UNR.
       COPY UNR.
       COPY NOWHERE.
