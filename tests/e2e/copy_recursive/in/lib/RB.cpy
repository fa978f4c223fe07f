          05 RB-F PIC X.
       COPY RA.
