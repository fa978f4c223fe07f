       COPY 'QUOTED'.
       COPY "DQ".
       COPY 'ODD".
