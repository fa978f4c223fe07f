          05 L1-A PIC X.
       COPY L2.
          05 L1-B PIC X.
